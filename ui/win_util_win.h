// Small helpers of the Windows program: the instance handle, and text that is
// UTF-8 inside the program and UTF-16 at every Win32 call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The program's instance: the window class, the dialogs and the save dialog
// are created with it. Set once at entry (or by a test program).
extern HINSTANCE programInstance;

// Makes the trackbar and progress bar classes that the templates name available.
bool InitCommonControlClasses();

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

void SetItemText(HWND dialog, int id, const std::string& utf8);
std::string ItemText(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
void EnableItem(HWND dialog, int id, bool enable);

// MessageBoxW with UTF-8 texts; returns the button pressed.
int ShowMessage(HWND owner, const std::string& message, const char* caption, UINT flags);

// Bytes of Japanese Windows text (code page 932) as UTF-16, whatever the
// system's own code page is.
std::wstring Cp932ToWide(const std::uint8_t* bytes, std::size_t length);

// The current directory, or empty if it cannot be read.
std::wstring CurrentDirectoryW();

// The dots per inch a window is drawn at (per monitor where Windows tells it,
// else the system's), 96 at 100 % scaling.
int WindowDpi(HWND window);
// The program's icon at the size of a title-bar icon (small) or of a large
// icon for `dpi`; the caller destroys it.
HICON LoadProgramIcon(int dpi, bool small);
// Gives the window its title-bar and Alt+Tab icons for its current DPI,
// destroying those it had from an earlier call.
void SetWindowIcons(HWND window);
// Takes the icons of SetWindowIcons back and destroys them.
void DestroyWindowIcons(HWND window);

// The size of the primary screen in pixels, whatever the scaling.
SIZE ScreenPixels();
