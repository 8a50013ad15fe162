// Where a command's output goes when -o does not say.
#pragma once

#include <string>

#include "cli/options.h"

namespace cli {

// Where the output of `input` goes: -o, or the input's base name with the
// format's extension (".bmp", ".png", ".ppm", ".rq6") in --out-dir or the
// current directory.
std::string OutputPathFor(const Request& request, const std::string& input);

// The file name of `path` without its folder and extension ("Sg006").
std::string BaseName(const std::string& path);

}  // namespace cli
