#include "tools/cli_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "engine/gamma_table.h"
#include "engine/limits.h"
#include "engine/wp_convert.h"
#include "tools/full_picture.h"
#include "tools/text_codec.h"

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

bool EndsWith(const std::string& text, const char* suffix) {
    const std::string tail(suffix);
    if (text.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = text[text.size() - tail.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != tail[i]) return false;
    }
    return true;
}

bool ParseFormat(const std::string& text, Command command, Format* format) {
    if (command == Command::kConvert && text == "bmp") {
        *format = Format::kBmp;
    } else if (text == "png") {
        *format = Format::kPng;
    } else if (command == Command::kExtract && text == "ppm") {
        *format = Format::kPpm;
    } else {
        return false;
    }
    return true;
}

// The comment pack stores: code page 932 text that the program shows whole.
bool ParseComment(const std::string& utf8, std::string* cp932, std::string* error) {
    if (!text::Utf8ToCp932(utf8, cp932)) {
        *error = "--comment must be UTF-8 text made of characters code page 932 has";
        return false;
    }
    if (cp932->size() > full::kMaxCommentBytes) {
        *error = "--comment is " + std::to_string(cp932->size()) +
                 " bytes in code page 932; at most " + std::to_string(full::kMaxCommentBytes) +
                 " are kept";
        return false;
    }
    return true;
}

// convert, extract and pack: input files and options. Each command takes the
// options of its own; the rest are refused.
bool ParseFileCommand(const std::vector<std::string>& args, Request* r, std::string* error) {
    const Command command = r->command;
    const bool converting = command == Command::kConvert;
    bool hasContrast = false;
    bool hasFormat = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool known = a == "-o" || a == "--out-dir" ||
                           (converting && (a == "--size" || a == "--mode" || a == "--contrast" ||
                                           a == "--exponent")) ||
                           (command != Command::kPack && a == "--format") ||
                           (command == Command::kPack && a == "--comment");
        if (!known && a.size() > 1 && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        }
        if (known && i + 1 >= args.size()) {
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
            const std::string& value = args[++i];
            char* end = nullptr;
            r->exponent = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(r->exponent) || r->exponent <= 0) {
                *error = "--exponent takes a positive number";
                return false;
            }
            r->hasExponent = true;
        } else if (a == "--format") {
            if (!ParseFormat(args[++i], command, &r->format)) {
                *error = converting ? "--format takes bmp or png" : "--format takes png or ppm";
                return false;
            }
            hasFormat = true;
        } else if (a == "--comment") {
            if (!ParseComment(args[++i], &r->comment, error)) return false;
            r->hasComment = true;
        } else {
            r->inputs.push_back(a);
        }
    }
    if (r->inputs.empty()) {
        *error = args[0] + " needs at least one input picture";
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
    // Without --format, the name given to -o tells the format.
    if (command == Command::kPack) {
        r->format = Format::kRq6;
    } else if (!hasFormat && converting) {
        r->format = EndsWith(r->output, ".png") ? Format::kPng : Format::kBmp;
    } else if (!hasFormat) {
        if (r->output.empty() || EndsWith(r->output, ".png")) {
            r->format = Format::kPng;
        } else if (EndsWith(r->output, ".ppm")) {
            r->format = Format::kPpm;
        } else {
            *error = "extract writes .png or .ppm files; name one, or give --format";
            return false;
        }
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
    if (command == "convert" || command == "extract" || command == "pack") {
        request->command = command == "convert"   ? Command::kConvert
                           : command == "extract" ? Command::kExtract
                                                  : Command::kPack;
        return ParseFileCommand(args, request, error);
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
    static const char* const kExtensions[] = {".bmp", ".png", ".ppm", ".rq6"};
    const std::string name = BaseName(input) + kExtensions[static_cast<int>(request.format)];
    if (request.outDir.empty()) return name;
    return request.outDir.back() == '/' ? request.outDir + name : request.outDir + "/" + name;
}

const char* UsageText() {
    return R"(Usage:
  tavrel convert IN.rq6 [IN2.rq6 ...] [-o OUT.bmp | --out-dir DIR]
                 [--size WxH] [--mode 1|4|5|8|9|16|24] [--contrast P | --exponent X]
                 [--format bmp|png]
  tavrel extract IN.rq6 [IN2.rq6 ...] [-o OUT.png | --out-dir DIR] [--format png|ppm]
  tavrel pack IN.png|IN.ppm [IN2 ...] [-o OUT.rq6 | --out-dir DIR] [--comment TEXT]
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
  --format F      bmp (the default) or png: the same pixels as a PNG file of
                  the same depth (modes 1 to 9 as indexed PNG). An -o name
                  ending in .png chooses png too.
  The output appears only when the conversion succeeded: it is written under a
  temporary name beside the target and renamed, so a failure leaves no partial
  file and an existing file of the target name untouched.

extract   Writes each picture at its own size and full 16-bit precision, as
          16-bit RGB PNG (the comment in a "Comment" text chunk, in UTF-8) or
          as binary PPM with maximum value 65535 (pixels only). The format
          follows --format, else the -o name's extension; default png.

pack      Packs each PNG, PPM or PGM picture into an RQ6 file. 16-bit samples
          are kept as they are; 8-bit and lower are scaled to 16 bits (v x 257
          for 8 bits); grey is repeated into red, green and blue; palettes are
          looked up; alpha is dropped. Up to 32767 pixels a side and 128
          megapixels.
  --comment TEXT  the picture's comment (at most 127 bytes in code page 932,
                  the Japanese Windows encoding). Default: the PNG's "Comment"
                  text, if it has one.

info      Prints the picture's size, comment, header fields and code tree size.

sample-disc DIR
          Writes five sample pictures, DIR/Extends/Sg006.rq6 ... Sg010.rq6
          (3200 x 2400, 16 bits per channel).

Every output appears only when its command succeeded (see convert).

Exit status: 0 on success; 64 for a command line that cannot be understood;
otherwise the first failure's status code, with its message on stderr:
  1  out of memory
  2  an input cannot be opened
  3  an output cannot be created
  4  an RQ6 picture ends early
  5  an output cannot be written
  6  an input is damaged, too large, or not a picture the command reads
  7  an unexpected error
)";
}

}  // namespace cli
