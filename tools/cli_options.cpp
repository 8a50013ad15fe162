#include "tools/cli_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "engine/gamma_table.h"
#include "engine/limits.h"
#include "engine/wp_convert.h"

namespace cli {

namespace {

bool ParseUnsigned(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0 || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ParseSize(const std::string& text, std::uint32_t* width, std::uint32_t* height) {
    const auto x = text.find_first_of("xX");
    long long w = 0, h = 0;
    if (x == std::string::npos || !ParseUnsigned(text.substr(0, x), 1, limits::kMaxSide, &w) ||
        !ParseUnsigned(text.substr(x + 1), 1, limits::kMaxSide, &h)) {
        return false;
    }
    *width = static_cast<std::uint32_t>(w);
    *height = static_cast<std::uint32_t>(h);
    return true;
}

bool ParseConvert(const std::vector<std::string>& args, Request* r, std::string* error) {
    bool hasContrast = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "-o" || a == "--out-dir" || a == "--size" || a == "--mode" ||
                                a == "--contrast" || a == "--exponent";
        if (takesValue && i + 1 >= args.size()) {
            *error = a + " needs a value";
            return false;
        }
        if (a == "-o") {
            r->output = args[++i];
        } else if (a == "--out-dir") {
            r->outDir = args[++i];
        } else if (a == "--size") {
            if (!ParseSize(args[++i], &r->width, &r->height)) {
                *error = "--size takes WIDTHxHEIGHT, each 1 to " + std::to_string(limits::kMaxSide);
                return false;
            }
        } else if (a == "--mode") {
            long long m = 0;
            if (!ParseUnsigned(args[++i], 0, 99, &m) ||
                !IsColorMode(static_cast<std::uint32_t>(m))) {
                *error = "--mode takes 1, 4, 5, 8, 9, 16 or 24";
                return false;
            }
            r->mode = static_cast<std::uint32_t>(m);
        } else if (a == "--contrast") {
            long long p = 0;
            if (!ParseUnsigned(args[++i], 0, ContrastTable::kPositions - 1, &p)) {
                *error = "--contrast takes a position from 0 to 256";
                return false;
            }
            r->contrast = static_cast<int>(p);
            hasContrast = true;
        } else if (a == "--exponent") {
            const std::string& text = args[++i];
            char* end = nullptr;
            r->exponent = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(r->exponent) || r->exponent <= 0) {
                *error = "--exponent takes a positive number";
                return false;
            }
            r->hasExponent = true;
        } else if (a.size() > 1 && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else {
            r->inputs.push_back(a);
        }
    }
    if (r->inputs.empty()) {
        *error = "convert needs at least one input picture";
        return false;
    }
    if (hasContrast && r->hasExponent) {
        *error = "--contrast and --exponent exclude each other";
        return false;
    }
    if (!r->output.empty() && (!r->outDir.empty() || r->inputs.size() > 1)) {
        *error = "-o names the output of a single picture; use --out-dir for several";
        return false;
    }
    return true;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace

bool Parse(const std::vector<std::string>& args, Request* request, std::string* error) {
    *request = Request{};
    if (args.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        request->command = Command::kHelp;
        return true;
    }
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            request->command = Command::kHelp;
            return true;
        }
    }
    if (command == "convert") {
        request->command = Command::kConvert;
        return ParseConvert(args, request, error);
    }
    if (command == "info" || command == "sample-disc") {
        if (args.size() != 2 || (args[1].size() > 1 && args[1][0] == '-')) {
            *error =
                command + " takes exactly one " + (command == "info" ? "picture" : "directory");
            return false;
        }
        if (command == "info") {
            request->command = Command::kInfo;
            request->inputs.push_back(args[1]);
        } else {
            request->command = Command::kSampleDisc;
            request->discDir = args[1];
        }
        return true;
    }
    *error = "unknown command " + command;
    return false;
}

std::string OutputPathFor(const Request& request, const std::string& input) {
    if (!request.output.empty()) return request.output;
    const std::string name = BaseName(input) + ".bmp";
    if (request.outDir.empty()) return name;
    return request.outDir.back() == '/' ? request.outDir + name : request.outDir + "/" + name;
}

const char* UsageText() {
    return R"(Usage:
  tavrel convert IN.rq6 [IN2.rq6 ...] [-o OUT.bmp | --out-dir DIR]
                 [--size WxH] [--mode 1|4|5|8|9|16|24] [--contrast P | --exponent X]
  tavrel info IN.rq6
  tavrel sample-disc DIR
  tavrel --help

convert   Converts each picture into an uncompressed BMP file, scaled by area
          averaging, passed through the contrast curve and reduced to the
          chosen colour format with ordered dithering.
  -o OUT.bmp      output file (one input only). Default: the input's base name
                  with .bmp, in the current directory.
  --out-dir DIR   directory for the output files (it must exist).
  --size WxH      output size in pixels, any size from 1x1 to 32767x32767.
                  Default: the picture's own size.
  --mode M        colour format: 1 black and white, 4 sixteen system colours,
                  5 sixteen greys, 8 256 colours, 9 256 greys, 16 high colour
                  (24-bit file), 24 full colour. Default 24.
  --contrast P    contrast position 0 (bright) to 256 (dark); the curve's
                  exponent is 2.5^((P-128)/128). Default 128 (exponent 1.0).
  --exponent X    the tone curve's exponent itself (clamped to 0.001..1000).
  The output appears only when the conversion succeeded: it is written under a
  temporary name beside the target and renamed, so a failure leaves no partial
  file and an existing file of the target name untouched.

info      Prints the picture's size, comment, header fields and code tree size.

sample-disc DIR
          Writes five sample pictures, DIR/Extends/Sg006.rq6 ... Sg010.rq6
          (3200 x 2400, 16 bits per channel).

Exit status: 0 on success; 1 to 7 for a failed conversion (the status code,
with its message on stderr); 64 for a command line that cannot be understood.
)";
}

}  // namespace cli
