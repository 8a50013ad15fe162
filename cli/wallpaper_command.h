// tavrel wallpaper: one RQ6 picture made into the desktop's wallpaper, at the
// screen's size, cropped to fill it, and set for the running desktop.
#pragma once

#include <cstdint>
#include <string>

#include "cli/options.h"

namespace wallpaper {

// The picture was written but could not be set as the wallpaper (sysexits'
// "service unavailable"): distinct from every failure to make it.
inline constexpr int kExitNotSet = 69;

// How the tool converts one picture as `convert` does: the request's size,
// fit, mode, curve and output; a status, the failure already reported.
using Converter = std::uint32_t (*)(const cli::Request& request, const std::string& input);

// Runs the command; returns the process exit status.
int Run(const cli::Request& request, Converter convert);

// The folder the wallpapers go in: $XDG_DATA_HOME/backgrounds/tavrel, with
// ~/.local/share for XDG_DATA_HOME when it is unset or not absolute.
std::string WallpaperFolder();

}  // namespace wallpaper
