#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/folder.h"

namespace platform {

PathKind KindOf(const char* utf8Path) {
    struct stat st;
    if (::stat(utf8Path, &st) != 0) return PathKind::kMissing;
    return S_ISDIR(st.st_mode) ? PathKind::kFolder : PathKind::kFile;
}

bool ListFolder(const char* utf8Path, std::vector<std::string>* names) {
    names->clear();
    DIR* dir = ::opendir(utf8Path);
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names->push_back(entry->d_name);
    }
    ::closedir(dir);
    return true;
}

}  // namespace platform
