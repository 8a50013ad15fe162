#include <windows.h>

#include "platform/temporary_file.h"
#include "platform/utf8_win.h"

namespace platform {

std::string TemporaryPathBeside(const std::string& target) {
    // "D:name.bmp" has its directory in the drive letter.
    const auto cut = target.find_last_of("/\\:");
    const std::string dir = cut == std::string::npos ? "" : target.substr(0, cut + 1);
    const std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
    const std::string stem =
        dir + "." + name + ".tavrel-" + std::to_string(GetCurrentProcessId()) + "-";
    static unsigned serial = 0;
    std::string path;
    // A name left behind by an earlier process of the same number is passed
    // over, not reused.
    do {
        path = stem + std::to_string(serial++) + ".tmp";
    } while (GetFileAttributesW(Utf8ToWide(path.c_str()).c_str()) != INVALID_FILE_ATTRIBUTES);
    return path;
}

int ReplaceWithTemporary(const std::string& temporary, const std::string& target) {
    const std::wstring from = Utf8ToWide(temporary.c_str());
    const std::wstring to = Utf8ToWide(target.c_str());
    if (from.empty() || to.empty()) return ERROR_INVALID_NAME;
    // Write-through: the call returns only once the move has reached the
    // disk, not while the old file is gone and the new name still cached.
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(from.c_str(), to.c_str(), flags) != 0) return 0;
    return static_cast<int>(GetLastError());
}

}  // namespace platform
