#include <windows.h>

#include <string>

#include "platform/file_io.h"
#include "platform/utf8_win.h"

namespace platform {

namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(handle);
}

// A path that is empty or not valid UTF-8 (both convert to nothing) cannot
// name any file; it fails the same way a missing file does.
bool WidePath(const char* utf8Path, std::wstring* wide) {
    *wide = Utf8ToWide(utf8Path);
    return !wide->empty();
}

}  // namespace

FileHandle OpenRead(const char* utf8Path) {
    std::wstring path;
    if (!WidePath(utf8Path, &path)) return kInvalidFile;
    // Share mode 0: nobody may write or delete the picture while it is read.
    // A directory fails here, as CreateFileW opens directories only with
    // FILE_FLAG_BACKUP_SEMANTICS.
    return FromHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_READONLY, nullptr));
}

FileHandle CreateWrite(const char* utf8Path) {
    std::wstring path;
    if (!WidePath(utf8Path, &path)) return kInvalidFile;
    return FromHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* got) {
    *got = 0;
    auto* p = static_cast<char*>(buffer);
    while (*got < size) {
        DWORD n = 0;
        if (!ReadFile(ToHandle(file), p + *got, size - *got, &n, nullptr)) return false;
        if (n == 0) break;  // end of file
        *got += n;
    }
    return true;
}

bool Write(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written) {
    *written = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (*written < size) {
        DWORD n = 0;
        if (!WriteFile(ToHandle(file), p + *written, size - *written, &n, nullptr)) return false;
        if (n == 0) {
            SetLastError(ERROR_SUCCESS);  // short, but the system names no reason
            return false;
        }
        *written += n;
    }
    return true;
}

void Close(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(ToHandle(file));
}

bool Remove(const char* utf8Path) {
    std::wstring path;
    return WidePath(utf8Path, &path) && DeleteFileW(path.c_str()) != 0;
}

bool Rename(const char* from, const char* to) {
    std::wstring wideFrom;
    std::wstring wideTo;
    return WidePath(from, &wideFrom) && WidePath(to, &wideTo) &&
           MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace platform
