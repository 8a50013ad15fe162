#include <windows.h>

#include "platform/file_io.h"

namespace platform {

int LastError() { return static_cast<int>(GetLastError()); }

bool FileSize(FileHandle file, std::uint64_t* bytes) {
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    LARGE_INTEGER size;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) return false;
    *bytes = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

namespace {
FileHandle Standard(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle == INVALID_HANDLE_VALUE || handle == nullptr ? kInvalidFile
                                                               : reinterpret_cast<FileHandle>(handle);
}
}  // namespace

FileHandle StandardInput() { return Standard(STD_INPUT_HANDLE); }
FileHandle StandardOutput() { return Standard(STD_OUTPUT_HANDLE); }

bool IsTerminal(FileHandle file) {
    return file != kInvalidFile && GetFileType(reinterpret_cast<HANDLE>(file)) == FILE_TYPE_CHAR;
}

}  // namespace platform
