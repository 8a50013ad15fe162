// Command line of the tavrel tool, parsed into a request without side effects
// so that it can be tested on its own. What it accepts is the option table's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/option_table.h"

namespace cli {

// Exit status for a command line that cannot be understood.
inline constexpr int kExitUsage = 64;

// The name that stands for standard input as an input and for standard
// output as an output.
inline constexpr const char* kStandardStream = "-";

// The thumbnail's longer side unless -s says otherwise.
inline constexpr std::uint32_t kDefaultThumbnailSize = 256;

// What a command writes: convert writes bitmaps or PNG, extract PNG or PPM,
// pack RQ6 pictures.
enum class Format { kBmp, kPng, kPpm, kRq6 };

// How convert and thumbnail meet an output size of other proportions than the
// picture's: stretch the whole picture, or cover the output with the largest
// centred part of the picture that has its proportions.
enum class Fit { kStretch, kCover };

struct Request {
    Command command = Command::kNone;
    bool help = false;                // --help: the command's help (the overview without one)
    std::vector<std::string> inputs;  // convert, extract, pack: pictures; info, thumbnail: one;
                                      // "-": standard input
    std::string output;               // -o, or thumbnail's output file; "-": standard output
    std::string outDir;               // --out-dir
    std::string discDir;              // sample-disc
    std::uint32_t width = 0;          // 0: the picture's own size
    std::uint32_t height = 0;
    std::uint32_t mode = 24;  // or 48: 16-bit PNG, undithered
    Fit fit = Fit::kStretch;
    int contrast = 128;  // trackbar position, used unless hasExponent
    bool hasExponent = false;
    double exponent = 1.0;
    Format format = Format::kBmp;
    // pack --comment, in code page 932 as it will be stored.
    bool hasComment = false;
    std::string comment;
    std::uint32_t thumbnailSize = kDefaultThumbnailSize;  // thumbnail -s
    bool noSet = false;                                   // wallpaper --no-set
};

// False with a one-line message in *error (in the user's language) when the
// command line is not valid. request->command then names the command when
// it was recognised, so that the user can be pointed at its help.
bool Parse(const std::vector<std::string>& args, Request* request, std::string* error);

}  // namespace cli
