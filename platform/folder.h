// What a path names and what a folder holds, for finding pictures in folders
// the user chooses.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class PathKind { kMissing, kFile, kFolder };

// What `utf8Path` names, following links; kMissing also for a path that
// cannot be looked at.
PathKind KindOf(const char* utf8Path);

// The names of the entries of a folder, "." and ".." left out, in no
// particular order. False when it cannot be listed (not a folder, say).
bool ListFolder(const char* utf8Path, std::vector<std::string>* names);

}  // namespace platform
