// info: what an RQ6 picture's header says.
#pragma once

#include <string>

namespace command {

// Prints the size, the comment and every header field of the picture at
// `path` ("-": standard input); returns the failure's status, or 0.
int RunInfo(const std::string& path);

}  // namespace command
