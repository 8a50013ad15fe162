// The Windows program's entry.
#include <windows.h>

#include "ui/main_window_win.h"
#include "ui/shell_win.h"
#include "ui/win_util_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
    programInstance = instance;
    // Made full paths now, against the folder the program was started in:
    // the start-up changes the current directory.
    startPaths = CommandLinePaths();
    InitCommonControlClasses();
    if (previous == nullptr && !RegisterMainWindowClass()) return 0;

    MainWindow mainWindow;

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
