// convert and thumbnail: RQ6 pictures into bitmaps or PNG through the
// conversion engine.
#pragma once

#include <cstdint>
#include <string>

#include "cli/options.h"

namespace command {

// Converts one input as the request says, into its output; reports a
// failure and returns its status. The wallpaper command converts through
// this too.
std::uint32_t ConvertOne(const cli::Request& request, const std::string& input);

// convert and thumbnail: every input.
int RunConvert(const cli::Request& request);

}  // namespace command
