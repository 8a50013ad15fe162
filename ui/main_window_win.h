// The program's only top-level window. It stays hidden: it owns the settings
// dialog, which is where the user works, and the process ends with it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A C++ object bound to a platform window: WndProc finds it through the
// window's extra bytes and hands it every message.
class Window {
public:
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    HWND handle = nullptr;
    POINT position{};
    SIZE size{};

protected:
    ~Window() = default;  // never deleted through a Window pointer
};

class MainWindow : public Window {
public:
    // Does the whole start-up and runs the settings dialog; returns after the
    // quit message has been posted.
    MainWindow();
    ~MainWindow() = default;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    const char* title = nullptr;
};

// The paths the program was started with (full paths, UTF-16), set by the
// entry before the MainWindow is constructed; the first one, a folder or an
// RQ6 file, becomes the source of the pictures.
extern std::vector<std::wstring> startPaths;

// The window procedure of the class: hands each message to the bound object.
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the class of the main window ("Tavrel"); false on failure.
bool RegisterMainWindowClass();

// The folder that bare output names are written to: the Windows directory, or
// the user's Pictures folder where the Windows directory cannot be written
// (any Windows since Vista, for a normal user). Empty if neither is known.
std::wstring OutputDirectory(const std::wstring& windowsDirectory);

// True when a new file can be created in `directory`.
bool CanCreateFilesIn(const std::wstring& directory);
