// Command line of the tavrel tool, parsed into a request without side effects
// so that it can be tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Exit status for a command line that cannot be understood.
inline constexpr int kExitUsage = 64;

enum class Command { kHelp, kConvert, kInfo, kSampleDisc, kExtract, kPack };

// What a command writes: convert writes bitmaps or PNG, extract PNG or PPM,
// pack RQ6 pictures.
enum class Format { kBmp, kPng, kPpm, kRq6 };

struct Request {
    Command command = Command::kHelp;
    std::vector<std::string> inputs;  // convert, extract, pack: pictures; info: one
    std::string output;               // -o: the output file (one input only)
    std::string outDir;               // --out-dir
    std::string discDir;              // sample-disc
    std::uint32_t width = 0;          // 0: the picture's own size
    std::uint32_t height = 0;
    std::uint32_t mode = 24;
    int contrast = 128;  // trackbar position, used unless hasExponent
    bool hasExponent = false;
    double exponent = 1.0;
    Format format = Format::kBmp;
    // pack --comment, in code page 932 as it will be stored.
    bool hasComment = false;
    std::string comment;
};

// False with a message in *error when the command line is not valid.
bool Parse(const std::vector<std::string>& args, Request* request, std::string* error);

// Where the output of `input` goes: -o, or the input's base name with the
// format's extension (".bmp", ".png", ".ppm", ".rq6") in --out-dir or the
// current directory.
std::string OutputPathFor(const Request& request, const std::string& input);

const char* UsageText();

}  // namespace cli
