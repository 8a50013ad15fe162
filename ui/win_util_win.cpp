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

std::wstring CurrentDirectoryW() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size + 1);
    const DWORD got = GetCurrentDirectoryW(size + 1, buffer.data());
    if (got == 0 || got > size) return {};
    return std::wstring(buffer.data(), got);
}
