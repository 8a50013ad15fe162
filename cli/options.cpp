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

// An option as given, with its value ("--size 8x6", "--size=8x6", "-o x",
// "-ox").
struct Option {
    const OptionEntry* entry;
    std::string value;
};

// The option `arg` names for `command` with its value inline ("--size=8x6",
// "-ox"), or nullptr.
const OptionEntry* InlineValueOption(Command command, const std::string& arg, std::string* value) {
    std::string name;
    if (arg.compare(0, 2, "--") == 0 && arg.find('=') != std::string::npos) {
        name = arg.substr(0, arg.find('='));
        *value = arg.substr(arg.find('=') + 1);
    } else if (arg[1] != '-' && arg.size() > 2) {
        name = arg.substr(0, 2);
        *value = arg.substr(2);
    }
    const OptionEntry* entry = name.empty() ? nullptr : FindOption(command, name);
    return entry != nullptr && entry->takesValue ? entry : nullptr;
}

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
        Option option{FindOption(command, a), ""};
        if (option.entry != nullptr && option.entry->id == OptionId::kHelp) {
            *help = true;
            return true;
        }
        if (option.entry != nullptr && !option.entry->takesValue) {
            options->push_back(option);
            continue;
        }
        if (option.entry == nullptr) {
            option.entry = InlineValueOption(command, a, &option.value);
            if (option.entry == nullptr) {
                *error = msg::Format(Tr("unknown option %s"), a.c_str());
                return false;
            }
        } else if (i + 1 >= args.size()) {
            *error = msg::Format(Tr("%s needs a value"), a.c_str());
            return false;
        } else {
            option.value = args[++i];
        }
        options->push_back(option);
    }
    return true;
}

// Which options a command line gave, where their meaning depends on others.
struct Given {
    bool contrast = false;
    bool format = false;
};

bool TakeMode(const std::string& value, Request* r, std::string* error) {
    long long m = 0;
    if (!ParseUnsigned(value, 0, 99, &m) ||
        !(IsColorMode(static_cast<std::uint32_t>(m)) || m == kModeDeepColor)) {
        *error = Tr("--mode takes 1, 4, 5, 8, 9, 16, 24 or 48");
        return false;
    }
    r->mode = static_cast<std::uint32_t>(m);
    return true;
}

bool TakeContrast(const std::string& value, Request* r, std::string* error) {
    long long p = 0;
    if (!ParseUnsigned(value, 0, ContrastTable::kPositions - 1, &p)) {
        *error = msg::Format(Tr("--contrast takes a position from 0 to %d"),
                             ContrastTable::kPositions - 1);
        return false;
    }
    r->contrast = static_cast<int>(p);
    return true;
}

bool TakeExponent(const std::string& value, Request* r, std::string* error) {
    char* end = nullptr;
    r->exponent = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(r->exponent) || r->exponent <= 0) {
        *error = Tr("--exponent takes a positive number");
        return false;
    }
    r->hasExponent = true;
    return true;
}

// One option of convert, extract, pack or wallpaper into the request.
bool TakeOption(const Option& o, Request* r, Given* given, std::string* error) {
    switch (o.entry->id) {
        case OptionId::kOutput:
            r->output = o.value;
            return true;
        case OptionId::kOutDir:
            r->outDir = o.value;
            return true;
        case OptionId::kSize:
            if (ParseSize(o.value, &r->width, &r->height)) return true;
            *error = msg::Format(Tr("--size takes WIDTHxHEIGHT, each 1 to %d"),
                                 static_cast<int>(limits::kMaxSide));
            return false;
        case OptionId::kMode:
            return TakeMode(o.value, r, error);
        case OptionId::kContrast:
            given->contrast = true;
            return TakeContrast(o.value, r, error);
        case OptionId::kExponent:
            return TakeExponent(o.value, r, error);
        case OptionId::kFormat:
            given->format = true;
            if (ParseFormat(o.value, r->command, &r->format)) return true;
            *error = r->command == Command::kConvert ? Tr("--format takes bmp or png")
                                                     : Tr("--format takes png or ppm");
            return false;
        case OptionId::kComment:
            r->hasComment = true;
            return ParseComment(o.value, &r->comment, error);
        case OptionId::kFit:
            return ParseFit(o.value, &r->fit, error);
        case OptionId::kNoSet:
            r->noSet = true;
            return true;
        default:
            return true;
    }
}

// convert, extract, pack and wallpaper: options and input files.
bool ParseFileCommand(const std::vector<Option>& options, Request* r, std::string* error) {
    const Command command = r->command;
    Given given;
    for (const Option& o : options) {
        if (!TakeOption(o, r, &given, error)) return false;
    }
    if (r->inputs.empty()) {
        *error = msg::Format(Tr("%s needs at least one input picture"), CommandName(command));
        return false;
    }
    if (given.contrast && r->hasExponent) {
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
        if (given.format ? r->format != Format::kPng
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
    } else if (!given.format && command == Command::kConvert) {
        r->format = EndsWith(r->output, ".png") ? Format::kPng : Format::kBmp;
    } else if (!given.format) {
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
        if (o.entry->id == OptionId::kFit) {
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

// What the options and operands make of a recognised command.
bool ParseCommand(const std::vector<Option>& options, const std::vector<std::string>& operands,
                  Request* request, std::string* error) {
    // The commands that take exactly one operand, and what it is.
    const char* oneOperand = nullptr;
    switch (request->command) {
        case Command::kConvert:
        case Command::kExtract:
        case Command::kPack:
            request->inputs = operands;
            return ParseFileCommand(options, request, error);
        case Command::kThumbnail:
            return ParseThumbnail(options, operands, request, error);
        case Command::kInfo:
            oneOperand = Tr("info takes exactly one picture");
            break;
        case Command::kSampleDisc:
            oneOperand = Tr("sample-disc takes exactly one directory");
            break;
        case Command::kWallpaper:
            oneOperand = Tr("wallpaper takes exactly one picture");
            break;
        default:
            return false;
    }
    if (operands.size() != 1) {
        *error = oneOperand;
        return false;
    }
    if (request->command == Command::kSampleDisc) {
        request->discDir = operands[0];
        return true;
    }
    request->inputs = operands;
    if (request->command != Command::kWallpaper) return true;
    request->fit = Fit::kCover;
    return ParseFileCommand(options, request, error);
}

// "tavrel --help", "tavrel help [COMMAND]" and "tavrel --version": true when
// `args` are one of these, with the request or *error filled in.
bool ParseAboutTheTool(const std::vector<std::string>& args, Request* request, bool* valid,
                       std::string* error) {
    const std::string& first = args[0];
    const OptionEntry* option = FindOption(Command::kNone, first);
    if (option != nullptr && option->id == OptionId::kVersion) {
        request->command = Command::kVersion;
        *valid = true;
        return true;
    }
    if (first != "help" && (option == nullptr || option->id != OptionId::kHelp)) return false;
    request->help = true;
    *valid = true;
    // "tavrel help convert" is "tavrel convert --help".
    if (first == "help" && args.size() > 1) {
        const CommandEntry* named = FindCommand(args[1]);
        if (named != nullptr) {
            request->command = named->command;
        } else {
            *error = msg::Format(Tr("unknown command %s"), args[1].c_str());
            *valid = false;
        }
    }
    return true;
}

}  // namespace

bool Parse(const std::vector<std::string>& args, Request* request, std::string* error) {
    *request = Request{};
    if (args.empty()) {
        *error = Tr("no command given");
        return false;
    }
    bool valid = false;
    if (ParseAboutTheTool(args, request, &valid, error)) return valid;
    const std::string& first = args[0];
    const CommandEntry* entry = FindCommand(first);
    if (entry == nullptr) {
        *error = first.size() > 1 && first[0] == '-'
                     ? msg::Format(Tr("unknown option %s"), first.c_str())
                     : msg::Format(Tr("unknown command %s"), first.c_str());
        return false;
    }
    request->command = entry->command;
    std::vector<Option> options;
    std::vector<std::string> operands;
    if (!SplitArguments(args, request->command, &options, &operands, &request->help, error))
        return false;
    return request->help || ParseCommand(options, operands, request, error);
}

}  // namespace cli
