#include "platform/utf8_win.h"

#include <windows.h>

namespace platform {

std::wstring Utf8ToWide(const char* utf8) {
    if (utf8 == nullptr || *utf8 == '\0') return std::wstring();
    // -1: the terminator is converted too, so the counts include it.
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &wide[0], n) != n) {
        return std::wstring();
    }
    wide.pop_back();
    return wide;
}

std::string WideToUtf8(const wchar_t* wide) {
    if (wide == nullptr || *wide == L'\0') return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(n), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, &utf8[0], n, nullptr,
                            nullptr) != n) {
        return std::string();
    }
    utf8.pop_back();
    return utf8;
}

}  // namespace platform
