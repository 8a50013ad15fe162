#include "cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "cli/messages.h"
#include "engine/gamma_table.h"
#include "engine/limits.h"
#include "engine/wp_convert.h"
#include "formats/full_picture.h"
#include "formats/text_codec.h"
#include "tavrel_version.h"

namespace cli {

namespace {

using msg::Tr;

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

bool ParseFit(const std::string& text, Fit* fit, std::string* error) {
    if (text == "stretch") {
        *fit = Fit::kStretch;
    } else if (text == "cover") {
        *fit = Fit::kCover;
    } else {
        *error = Tr("--fit takes stretch or cover");
        return false;
    }
    return true;
}

// The comment pack stores: code page 932 text that the program shows whole.
bool ParseComment(const std::string& utf8, std::string* cp932, std::string* error) {
    if (!text::Utf8ToCp932(utf8, cp932)) {
        *error = Tr("--comment must be UTF-8 text made of characters code page 932 has");
        return false;
    }
    if (cp932->size() > full::kMaxCommentBytes) {
        *error = msg::Format(Tr("--comment is %zu bytes in code page 932; at most %zu are kept"),
                             cp932->size(), full::kMaxCommentBytes);
        return false;
    }
    return true;
}

// "-" among the inputs: standard input, which is read once and has no name
// an output could be named after.
bool CheckStandardInput(const Request& r, std::string* error) {
    const auto count = std::count(r.inputs.begin(), r.inputs.end(), kStandardStream);
    if (count == 0) return true;
    if (r.command == Command::kPack) {
        *error = Tr("pack reads picture files, not standard input");
    } else if (r.command == Command::kWallpaper) {
        *error = Tr("wallpaper reads a picture file, not standard input");
    } else if (count > 1) {
        *error = Tr("standard input (-) can be read only once");
    } else if (r.output.empty()) {
        *error = Tr("a picture from standard input needs -o NAME, or -o - for standard output");
    } else {
        return true;
    }
    return false;
}

struct CommandEntry {
    const char* name;
    Command command;
};

constexpr CommandEntry kCommands[] = {
    {"convert", Command::kConvert},     {"extract", Command::kExtract},
    {"pack", Command::kPack},           {"info", Command::kInfo},
    {"thumbnail", Command::kThumbnail}, {"sample-disc", Command::kSampleDisc},
    {"wallpaper", Command::kWallpaper},
};

bool FindCommand(const std::string& name, Command* command) {
    for (const auto& c : kCommands) {
        if (name == c.name) {
            *command = c.command;
            return true;
        }
    }
    return false;
}

// The options of a command that take a value; -h and --help are everyone's.
bool TakesOption(Command command, const std::string& name) {
    switch (command) {
        case Command::kConvert:
            return name == "-o" || name == "--out-dir" || name == "--size" || name == "--mode" ||
                   name == "--contrast" || name == "--exponent" || name == "--format" ||
                   name == "--fit";
        case Command::kExtract:
            return name == "-o" || name == "--out-dir" || name == "--format";
        case Command::kPack:
            return name == "-o" || name == "--out-dir" || name == "--comment";
        case Command::kThumbnail:
            return name == "-s" || name == "--fit";
        case Command::kWallpaper:
            return name == "--size" || name == "--mode" || name == "--contrast" ||
                   name == "--exponent";
        default:
            return false;
    }
}

// The options of a command that take no value.
bool IsFlag(Command command, const std::string& name) {
    return command == Command::kWallpaper && name == "--no-set";
}

// An option with its value, as given ("--size 8x6", "--size=8x6", "-o x",
// "-ox").
struct Option {
    std::string name;
    std::string value;
};

// The arguments after the command: options with their values, and the rest
// (the operands), in order; "--" ends the options, and -h or --help stops
// there with *help set. False with a message for an unknown option or one
// without its value.
bool SplitArguments(const std::vector<std::string>& args, Command command,
                    std::vector<Option>* options, std::vector<std::string>* operands, bool* help,
                    std::string* error) {
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            operands->push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            *help = true;
            return true;
        }
        if (IsFlag(command, a)) {
            options->push_back({a, ""});
            continue;
        }
        Option option{a, ""};
        bool inlineValue = false;
        if (a.compare(0, 2, "--") == 0 && a.find('=') != std::string::npos) {
            option.name = a.substr(0, a.find('='));
            option.value = a.substr(a.find('=') + 1);
            inlineValue = true;
        } else if (a[1] != '-' && a.size() > 2 && TakesOption(command, a.substr(0, 2))) {
            option.name = a.substr(0, 2);
            option.value = a.substr(2);
            inlineValue = true;
        }
        if (!TakesOption(command, option.name)) {
            *error = msg::Format(Tr("unknown option %s"), a.c_str());
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                *error = msg::Format(Tr("%s needs a value"), a.c_str());
                return false;
            }
            option.value = args[++i];
        }
        options->push_back(option);
    }
    return true;
}

// convert, extract and pack: options and input files.
bool ParseFileCommand(const std::vector<Option>& options, Request* r, std::string* error) {
    const Command command = r->command;
    bool hasContrast = false;
    bool hasFormat = false;
    for (const Option& o : options) {
        if (o.name == "-o") {
            r->output = o.value;
        } else if (o.name == "--out-dir") {
            r->outDir = o.value;
        } else if (o.name == "--size") {
            if (!ParseSize(o.value, &r->width, &r->height)) {
                *error = msg::Format(Tr("--size takes WIDTHxHEIGHT, each 1 to %d"),
                                     static_cast<int>(limits::kMaxSide));
                return false;
            }
        } else if (o.name == "--mode") {
            long long m = 0;
            if (!ParseUnsigned(o.value, 0, 99, &m) ||
                !(IsColorMode(static_cast<std::uint32_t>(m)) || m == kModeDeepColor)) {
                *error = Tr("--mode takes 1, 4, 5, 8, 9, 16, 24 or 48");
                return false;
            }
            r->mode = static_cast<std::uint32_t>(m);
        } else if (o.name == "--contrast") {
            long long p = 0;
            if (!ParseUnsigned(o.value, 0, ContrastTable::kPositions - 1, &p)) {
                *error = msg::Format(Tr("--contrast takes a position from 0 to %d"),
                                     ContrastTable::kPositions - 1);
                return false;
            }
            r->contrast = static_cast<int>(p);
            hasContrast = true;
        } else if (o.name == "--exponent") {
            char* end = nullptr;
            r->exponent = std::strtod(o.value.c_str(), &end);
            if (o.value.empty() || *end != '\0' || !std::isfinite(r->exponent) ||
                r->exponent <= 0) {
                *error = Tr("--exponent takes a positive number");
                return false;
            }
            r->hasExponent = true;
        } else if (o.name == "--format") {
            if (!ParseFormat(o.value, command, &r->format)) {
                *error = command == Command::kConvert ? Tr("--format takes bmp or png")
                                                      : Tr("--format takes png or ppm");
                return false;
            }
            hasFormat = true;
        } else if (o.name == "--comment") {
            if (!ParseComment(o.value, &r->comment, error)) return false;
            r->hasComment = true;
        } else if (o.name == "--fit") {
            if (!ParseFit(o.value, &r->fit, error)) return false;
        } else if (o.name == "--no-set") {
            r->noSet = true;
        }
    }
    if (r->inputs.empty()) {
        *error = msg::Format(Tr("%s needs at least one input picture"), CommandName(command));
        return false;
    }
    if (hasContrast && r->hasExponent) {
        *error = Tr("--contrast and --exponent exclude each other");
        return false;
    }
    if (!r->output.empty() && (!r->outDir.empty() || r->inputs.size() > 1)) {
        *error = Tr("-o names the output of a single picture; use --out-dir for several");
        return false;
    }
    if (!CheckStandardInput(*r, error)) return false;
    // Without --format, the name given to -o tells the format.
    if (command == Command::kPack) {
        r->format = Format::kRq6;
    } else if ((command == Command::kConvert || command == Command::kWallpaper) &&
               r->mode == kModeDeepColor) {
        // 16-bit samples have no bitmap format to go to.
        if (hasFormat ? r->format != Format::kPng
                      : !r->output.empty() && !EndsWith(r->output, ".png")) {
            *error = Tr("--mode 48 writes 16-bit PNG: name the output NAME.png or give --format png");
            return false;
        }
        // The job measures its rows as a bitmap would, in 32 bits. A
        // picture's own size always fits.
        if (r->width != 0 && OutputFileSize(r->mode, r->width, r->height) == 0) {
            *error = Tr("--mode 48 takes sizes up to 4 GB of samples; --size is larger");
            return false;
        }
        r->format = Format::kPng;
    } else if (command == Command::kWallpaper) {
        r->format = Format::kPng;  // what desktops show, in every mode
    } else if (!hasFormat && command == Command::kConvert) {
        r->format = EndsWith(r->output, ".png") ? Format::kPng : Format::kBmp;
    } else if (!hasFormat) {
        if (r->output.empty() || r->output == kStandardStream || EndsWith(r->output, ".png")) {
            r->format = Format::kPng;
        } else if (EndsWith(r->output, ".ppm")) {
            r->format = Format::kPpm;
        } else {
            *error = Tr("extract writes .png or .ppm files; name one, or give --format");
            return false;
        }
    }
    return true;
}

bool ParseThumbnail(const std::vector<Option>& options, const std::vector<std::string>& operands,
                    Request* r, std::string* error) {
    for (const Option& o : options) {
        if (o.name == "--fit") {
            if (!ParseFit(o.value, &r->fit, error)) return false;
            continue;
        }
        long long size = 0;
        if (!ParseUnsigned(o.value, 1, limits::kMaxSide, &size)) {
            *error =
                msg::Format(Tr("-s takes a size from 1 to %d"), static_cast<int>(limits::kMaxSide));
            return false;
        }
        r->thumbnailSize = static_cast<std::uint32_t>(size);
    }
    if (operands.size() != 2) {
        *error = Tr("thumbnail takes one input picture and one output file");
        return false;
    }
    r->inputs = {operands[0]};
    r->output = operands[1];
    r->mode = kModeFullColor;
    r->format = Format::kPng;
    return true;
}

}  // namespace

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

bool Parse(const std::vector<std::string>& args, Request* request, std::string* error) {
    *request = Request{};
    if (args.empty()) {
        *error = Tr("no command given");
        return false;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        request->help = true;
        // "tavrel help convert" is "tavrel convert --help".
        if (first == "help" && args.size() > 1 && !FindCommand(args[1], &request->command)) {
            *error = msg::Format(Tr("unknown command %s"), args[1].c_str());
            return false;
        }
        return true;
    }
    if (first == "--version") {
        request->command = Command::kVersion;
        return true;
    }
    if (!FindCommand(first, &request->command)) {
        *error = first.size() > 1 && first[0] == '-'
                     ? msg::Format(Tr("unknown option %s"), first.c_str())
                     : msg::Format(Tr("unknown command %s"), first.c_str());
        return false;
    }
    std::vector<Option> options;
    std::vector<std::string> operands;
    if (!SplitArguments(args, request->command, &options, &operands, &request->help, error))
        return false;
    if (request->help) return true;
    switch (request->command) {
        case Command::kConvert:
        case Command::kExtract:
        case Command::kPack:
            request->inputs = operands;
            return ParseFileCommand(options, request, error);
        case Command::kThumbnail:
            return ParseThumbnail(options, operands, request, error);
        case Command::kInfo:
            if (operands.size() != 1) {
                *error = Tr("info takes exactly one picture");
                return false;
            }
            request->inputs = operands;
            return true;
        case Command::kSampleDisc:
            if (operands.size() != 1) {
                *error = Tr("sample-disc takes exactly one directory");
                return false;
            }
            request->discDir = operands[0];
            return true;
        case Command::kWallpaper:
            if (operands.size() != 1) {
                *error = Tr("wallpaper takes exactly one picture");
                return false;
            }
            request->inputs = operands;
            request->fit = Fit::kCover;
            return ParseFileCommand(options, request, error);
        default:
            return false;
    }
}

std::string OutputPathFor(const Request& request, const std::string& input) {
    if (!request.output.empty()) return request.output;
    static const char* const kExtensions[] = {".bmp", ".png", ".ppm", ".rq6"};
    const std::string name = BaseName(input) + kExtensions[static_cast<int>(request.format)];
    if (request.outDir.empty()) return name;
    return request.outDir.back() == '/' ? request.outDir + name : request.outDir + "/" + name;
}

const char* CommandName(Command command) {
    for (const auto& c : kCommands) {
        if (c.command == command) return c.name;
    }
    return "";
}

std::string TryHelpLine(Command command) {
    const std::string name = *CommandName(command) ? std::string("tavrel ") + CommandName(command)
                                                   : std::string("tavrel");
    return msg::Format(Tr("Try '%s --help'."), name.c_str());
}

std::string VersionText() {
    std::string version = std::string("tavrel ") + TAVREL_VERSION;
    if (*TAVREL_REVISION) version += std::string(" (git ") + TAVREL_REVISION + ")";
    return version + "\nCopyright (C) 2024 the Tavrel authors. MIT License.\n";
}

const char* HelpText(Command command) {
    switch (command) {
        case Command::kConvert:
            return Tr(R"(Usage: tavrel convert [OPTION]... IN.rq6...
Convert each RQ6 picture into a BMP (or PNG) file: scaled by area averaging,
passed through the contrast curve and reduced to the chosen colour format
with ordered dithering. IN.rq6 may be - for standard input, with -o.

Options:
  -o OUT.bmp|OUT.png  the output file, for a single input; - for standard
                      output; default: the input's name with .bmp (or
                      .png), in the current directory
      --out-dir DIR   the directory for the output files (it must exist)
      --size WxH      the output size in pixels, from 1x1 to 32767x32767, in
                      any proportions; default: the picture's own size
      --fit F         stretch (the default): the whole picture, stretched to
                      the size; cover: the largest centred part of the
                      picture with the size's proportions, so nothing is
                      distorted and the edges of one side are cut off
      --mode M        the colour format; default 24:
                         1  black and white       8  256 colours
                         4  16 system colours     9  256 greys
                         5  16 greys             16  high colour (24-bit file)
                                                 24  full colour
                        48  16-bit RGB PNG through the contrast curve,
                            undithered, for deep-colour displays
      --contrast P    the contrast position from 0 (brighter) to 256
                      (darker); the curve's exponent is 2.5^((P-128)/128);
                      default 128 (exponent 1.0)
      --exponent X    the curve's exponent itself, instead of --contrast
                      (kept within 0.001 to 1000)
      --format F      bmp (the default) or png: the same pixels as a PNG of
                      the same depth; an -o name ending in .png chooses png
  -h, --help          show this help and exit

An output appears only when its conversion succeeded: a failure leaves no
partial file, and an existing file of the same name stays as it was. No
picture is written to a terminal.
)");
        case Command::kExtract:
            return Tr(R"(Usage: tavrel extract [OPTION]... IN.rq6...
Write each RQ6 picture at its own size and full 16-bit precision: as 16-bit
RGB PNG with the comment in a "Comment" text chunk (UTF-8), or as binary PPM
with maximum value 65535 (pixels only). IN.rq6 may be - for standard input,
with -o.

Options:
  -o OUT.png|OUT.ppm  the output file, for a single input; - for standard
                      output (png unless --format says ppm); default: the
                      input's name with .png (or .ppm), in the current
                      directory
      --out-dir DIR   the directory for the output files (it must exist)
      --format F      png or ppm; default: the -o name's extension, else png
  -h, --help          show this help and exit

An output file appears only when it was written whole. No picture is
written to a terminal.
)");
        case Command::kPack:
            return Tr(R"(Usage: tavrel pack [OPTION]... IN.png|IN.ppm|IN.pgm...
Pack each PNG, PPM or PGM picture into an RQ6 file. 16-bit samples are kept as
they are; lower depths are scaled to 16 bits (an 8-bit v becomes 257 v); grey
goes into all three channels, palettes are looked up and alpha is dropped. At
most 32767 pixels a side and 128 megapixels.

Options:
  -o OUT.rq6          the output file, for a single input; - for standard
                      output; default: the input's name with .rq6, in the
                      current directory
      --out-dir DIR   the directory for the output files (it must exist)
      --comment TEXT  the picture's comment, at most 127 bytes in code page
                      932 (Japanese Windows text); default: the PNG's
                      "Comment" text, if it has one
  -h, --help          show this help and exit

An output file appears only when it was written whole. No picture is
written to a terminal.
)");
        case Command::kInfo:
            return Tr(R"(Usage: tavrel info IN.rq6
Show the picture's size, its comment (in UTF-8), every header field and the
size of its code tree. IN.rq6 may be - for standard input.

Options:
  -h, --help  show this help and exit
)");
        case Command::kThumbnail:
            return Tr(R"(Usage: tavrel thumbnail [-s SIZE] [--fit F] IN.rq6 OUT.png
Write a full-colour PNG of the picture with its longer side SIZE pixels long,
in the picture's proportions, through the default tone curve (exponent 1.0).
A picture no larger than SIZE keeps its own size. IN.rq6 may be - for
standard input, OUT.png - for standard output.

Options:
  -s SIZE     the longer side in pixels, from 1 to 32767; default 256
  --fit F     stretch (the default) or cover, as for convert: cover cuts
              off what rounding the size would otherwise stretch
  -h, --help  show this help and exit

OUT.png appears only when the thumbnail was made; otherwise the exit status
says what failed. No picture is written to a terminal.
)");
        case Command::kSampleDisc:
            return Tr(R"(Usage: tavrel sample-disc DIR
Write the five sample pictures, 3200 x 2400 at 16 bits per channel, to
DIR/Extends/Sg006.rq6 ... Sg010.rq6, making the folders as needed.

Options:
  -h, --help  show this help and exit
)");
        case Command::kWallpaper:
            return Tr(R"(Usage: tavrel wallpaper [OPTION]... IN.rq6
Make the picture the desktop's wallpaper: convert it to the screen's size,
cropped to the screen's proportions as convert --fit cover does, into
$XDG_DATA_HOME/backgrounds/tavrel/NAME-WxH.png (by default in
~/.local/share), print that file's path, and set it as the wallpaper of the
desktop XDG_CURRENT_DESKTOP names: GNOME, Unity, Budgie, Pantheon,
Cinnamon, MATE, KDE Plasma, Xfce or LXQt.

The size is that of the primary monitor (else the largest), read from the X
display through XRandR, which XWayland has too.

Options:
      --size WxH      the size in pixels instead of the screen's, from 1x1 to
                      32767x32767
      --mode M        the colour format as for convert; default 24 (full
                      colour); 48: a 16-bit PNG for deep-colour displays
      --contrast P    the contrast position from 0 (brighter) to 256
                      (darker); default 128
      --exponent X    the curve's exponent itself, instead of --contrast
      --no-set        write the picture and print its path, and change no
                      setting
  -h, --help          show this help and exit

Without a size (no X display, or Wayland without X11), the command says so
and exits with 64: give --size. A picture written but not set as the
wallpaper (an unknown desktop, a missing schema or program) gives exit
status 69, with the reason.
)");
        default:
            return Tr(R"(Usage: tavrel COMMAND [OPTION]... FILE...
Convert RQ6 pictures into BMP or PNG wallpaper, and move pictures between RQ6
and standard formats at full precision.

Commands:
  convert      convert RQ6 pictures into BMP or PNG wallpaper
  extract      write RQ6 pictures at full precision as 16-bit PNG or PPM
  pack         make RQ6 pictures from PNG, PPM or PGM pictures
  info         show an RQ6 picture's size, comment and header fields
  thumbnail    write a small full-colour PNG of an RQ6 picture
  sample-disc  write the five sample pictures into a directory
  wallpaper    make an RQ6 picture the desktop's wallpaper, filling the screen

Options:
  -h, --help     show this help and exit
      --version  show the version and exit

'tavrel COMMAND --help' shows a command's options.

Exit status:
  0   success
  1   out of memory
  2   an input cannot be opened
  3   an output cannot be created
  4   an input cannot be read, or ends early
  5   an output cannot be written
  6   an input is damaged, too large, or not a picture the command reads
  7   an unexpected failure
  64  the command line cannot be understood, an output is an input, or
      wallpaper finds no screen size
  69  wallpaper wrote the picture but could not set it as the wallpaper
With several inputs the rest are still done, and the first failure decides
the exit status.
)");
    }
}

}  // namespace cli
