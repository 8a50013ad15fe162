#include "ui/main_window_win.h"

#include <shlobj.h>

#include <string>

#include "engine/disc_pictures.h"
#include "resources/resource.h"
#include "ui/dialogs_win.h"
#include "ui/drives.h"
#include "ui/picture_folder.h"
#include "ui/records.h"
#include "ui/ui_text.h"
#include "ui/win_util_win.h"

namespace {

constexpr wchar_t kClassName[] = L"Tavrel";
constexpr int kMainWidth = 432;
constexpr int kMainHeight = 320;

void MakeOutputDirectoryCurrent() {
    wchar_t windows[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring directory =
        OutputDirectory(n > 0 && n < MAX_PATH ? std::wstring(windows, n) : std::wstring());
    if (!directory.empty()) SetCurrentDirectoryW(directory.c_str());
}

// A fixed or removable drive holds a copy of the disc: looked for with the
// system's critical-error boxes off, so that an empty card reader or floppy
// drive is passed over without a "no disk" box.
bool HoldsDiscQuietly(const std::string& root) {
    const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS);
    SetErrorMode(old | SEM_FAILCRITICALERRORS);
    const bool holds = RootHoldsDisc(root);
    SetErrorMode(old);
    return holds;
}

}  // namespace

std::vector<std::wstring> startPaths;

extern "C" LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* bound = reinterpret_cast<Window*>(GetWindowLongPtrW(window, 0));
    if (bound != nullptr) return bound->HandleMessage(message, wParam, lParam);
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        bound = static_cast<Window*>(create->lpCreateParams);
        if (bound != nullptr) {
            SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(bound));
            bound->handle = window;
            return bound->HandleMessage(message, wParam, lParam);
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterMainWindowClass() {
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = sizeof(Window*);  // the bound object
    wc.hInstance = programInstance;
    wc.hIcon = LoadIconW(programInstance, L"IDI_AppIcon");
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kClassName;
    return RegisterClassW(&wc) != 0;
}

bool CanCreateFilesIn(const std::wstring& directory) {
    if (directory.empty()) return false;
    std::wstring probe = directory;
    if (probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe += L"tavrel-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::wstring OutputDirectory(const std::wstring& windowsDirectory) {
    if (CanCreateFilesIn(windowsDirectory)) return windowsDirectory;
    wchar_t pictures[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES | CSIDL_FLAG_CREATE, nullptr,
                                   SHGFP_TYPE_CURRENT, pictures))) {
        return pictures;
    }
    return windowsDirectory;
}

MainWindow::MainWindow() {
    title = text::kProductTitle;
    position = {static_cast<LONG>(CW_USEDEFAULT), 0};
    size = {kMainWidth, kMainHeight};
    // With x = CW_USEDEFAULT the y argument is the show command: 0 is SW_HIDE,
    // so the window never appears.
    CreateWindowExW(0, kClassName, Wide(title).c_str(),
                    WS_OVERLAPPED | WS_VISIBLE | WS_VSCROLL | WS_SYSMENU | WS_MINIMIZEBOX,
                    position.x, position.y, size.cx, size.cy, nullptr, nullptr, programInstance,
                    this);
    if (handle == nullptr) ExitProcess(0);

    MakeOutputDirectoryCurrent();

    ScanDrives([](const std::string& root) { return GetDriveTypeW(Wide(root).c_str()); },
               HoldsDiscQuietly, &driveTable);
    if (!startPaths.empty()) {
        const int picture = UsePathAsSource(handle, Utf8(startPaths.front()));
        if (picture >= disc::kFirstPicture) {
            pictureSource.checkedAtStart =
                static_cast<std::uint8_t>(1u << (picture - disc::kFirstPicture));
        }
    }
    // Without a drive the program asks for a folder, and ends only when the
    // user declines.
    if (pictureSource.folder.empty() && driveTable.selected == kNoDrive) {
        ShowMessage(handle, text::NoDriveAskFolder(), text::kNoDriveCaption,
                    MB_OK | MB_ICONINFORMATION);
        if (!AskForPictureFolder(handle, true)) ExitProcess(0);
    }

    const INT_PTR result = DialogBoxParamW(programInstance, MAKEINTRESOURCEW(IDD_SETTINGS), handle,
                                           SettingsDlgProc, 0);
    // A settings dialog that could not be created ends the process too, with
    // a code that tells so.
    PostQuitMessage(result == -1 ? 1 : 0);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            // Never shown; validate so that no further paint messages come.
            PAINTSTRUCT ps;
            BeginPaint(handle, &ps);
            EndPaint(handle, &ps);
            return 0;
        }
        default:
            return DefWindowProcW(handle, message, wParam, lParam);
    }
}
