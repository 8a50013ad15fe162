// Writing a file whole or not at all: the new contents go into a temporary
// file beside the target, which takes the target's place only once it is
// complete and closed. Until then a file of the target's name stays as it
// was, whatever happens to the new one.
#pragma once

#include <string>

namespace platform {

// A name for a new file in the directory of `target`: ".NAME.tavrel-P-N.tmp"
// (P the process, N a count), one that no file has at the time of the call.
// Beside the target, so that it lies on the same volume and replacing the
// target is a rename.
std::string TemporaryPathBeside(const std::string& target);

// Puts the finished, closed file `temporary` in the place of `target`,
// replacing a file of that name in one step. 0 when done; otherwise the
// system's error code (errno; GetLastError on Windows), and both files stay
// as they were.
int ReplaceWithTemporary(const std::string& temporary, const std::string& target);

}  // namespace platform
