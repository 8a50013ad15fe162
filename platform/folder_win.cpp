#include <windows.h>

#include "platform/folder.h"
#include "platform/utf8_win.h"

namespace platform {

PathKind KindOf(const char* utf8Path) {
    const std::wstring path = Utf8ToWide(utf8Path);
    if (path.empty()) return PathKind::kMissing;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kFile;
}

bool ListFolder(const char* utf8Path, std::vector<std::string>* names) {
    names->clear();
    std::wstring pattern = Utf8ToWide(utf8Path);
    if (pattern.empty()) return false;
    if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names->push_back(WideToUtf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

}  // namespace platform
