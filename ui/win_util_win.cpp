#include "ui/win_util_win.h"

#include <commctrl.h>

#include <vector>

#include "platform/utf8_win.h"

HINSTANCE programInstance = nullptr;

bool InitCommonControlClasses() {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_BAR_CLASSES | ICC_PROGRESS_CLASS;
    return InitCommonControlsEx(&icc) != FALSE;
}

std::wstring Wide(const std::string& utf8) { return platform::Utf8ToWide(utf8.c_str()); }

std::string Utf8(const std::wstring& wide) { return platform::WideToUtf8(wide.c_str()); }

void SetItemText(HWND dialog, int id, const std::string& utf8) {
    SetDlgItemTextW(dialog, id, Wide(utf8).c_str());
}

std::string ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    const int length = GetWindowTextLengthW(item);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(item, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return Utf8(text);
}

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void EnableItem(HWND dialog, int id, bool enable) {
    EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

int ShowMessage(HWND owner, const std::string& message, const char* caption, UINT flags) {
    return MessageBoxW(owner, Wide(message).c_str(), Wide(caption).c_str(), flags);
}

std::wstring Cp932ToWide(const std::uint8_t* bytes, std::size_t length) {
    if (length == 0) return {};
    const auto* in = reinterpret_cast<const char*>(bytes);
    const int n = static_cast<int>(length);
    const int wide = MultiByteToWideChar(932, 0, in, n, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring out(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(932, 0, in, n, out.data(), wide);
    return out;
}

namespace {

// Windows 10 1607 and later know each monitor's DPI; older systems have one.
template <typename Function>
Function User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                  : nullptr;
}

int SystemMetricForDpi(int index, int dpi) {
    using ForDpi = int(WINAPI*)(int, UINT);
    static const ForDpi forDpi = User32Function<ForDpi>("GetSystemMetricsForDpi");
    if (forDpi != nullptr) return forDpi(index, static_cast<UINT>(dpi));
    HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return MulDiv(GetSystemMetrics(index), dpi, systemDpi > 0 ? systemDpi : 96);
}

}  // namespace

int WindowDpi(HWND window) {
    using ForWindow = UINT(WINAPI*)(HWND);
    static const ForWindow forWindow = User32Function<ForWindow>("GetDpiForWindow");
    if (forWindow != nullptr && window != nullptr) {
        const UINT dpi = forWindow(window);
        if (dpi != 0) return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

HICON LoadProgramIcon(int dpi, bool small) {
    const int cx = SystemMetricForDpi(small ? SM_CXSMICON : SM_CXICON, dpi);
    const int cy = SystemMetricForDpi(small ? SM_CYSMICON : SM_CYICON, dpi);
    return static_cast<HICON>(LoadImageW(programInstance, L"IDI_AppIcon", IMAGE_ICON, cx, cy, 0));
}

void SetWindowIcons(HWND window) {
    const int dpi = WindowDpi(window);
    for (const bool small : {true, false}) {
        const WPARAM which = small ? ICON_SMALL : ICON_BIG;
        HICON icon = LoadProgramIcon(dpi, small);
        if (icon == nullptr) continue;
        HICON old = reinterpret_cast<HICON>(
            SendMessageW(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon)));
        if (old != nullptr && old != icon) DestroyIcon(old);
    }
}

void DestroyWindowIcons(HWND window) {
    for (const WPARAM which : {ICON_SMALL, ICON_BIG}) {
        HICON old = reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, which, 0));
        if (old != nullptr) DestroyIcon(old);
    }
}

SIZE ScreenPixels() {
    // The display mode is in real pixels; what GetDeviceCaps reports is
    // scaled down for a program that Windows thinks does not know the DPI.
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode) && mode.dmPelsWidth > 0 &&
        mode.dmPelsHeight > 0) {
        return {static_cast<LONG>(mode.dmPelsWidth), static_cast<LONG>(mode.dmPelsHeight)};
    }
    HDC screen = GetDC(nullptr);
    const SIZE size{GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, VERTRES)};
    ReleaseDC(nullptr, screen);
    return size;
}

std::wstring CurrentDirectoryW() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size + 1);
    const DWORD got = GetCurrentDirectoryW(size + 1, buffer.data());
    if (got == 0 || got > size) return {};
    return std::wstring(buffer.data(), got);
}
