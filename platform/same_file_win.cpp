#include <windows.h>

#include <string>

#include "platform/file_io.h"
#include "platform/utf8_win.h"

namespace platform {

namespace {

// The volume and the index that identify a file whatever path reaches it.
bool FileIdentity(const char* utf8Path, BY_HANDLE_FILE_INFORMATION* info) {
    const std::wstring path = Utf8ToWide(utf8Path);
    if (path.empty()) return false;
    // No access rights: only the identity is asked for, which the system
    // gives even while another handle holds the file unshared (as a picture
    // being converted is). Backup semantics open directories as well;
    // symbolic links are followed to their target.
    const HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return known;
}

}  // namespace

bool SameFile(const char* utf8PathA, const char* utf8PathB) {
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    return FileIdentity(utf8PathA, &a) && FileIdentity(utf8PathB, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace platform
