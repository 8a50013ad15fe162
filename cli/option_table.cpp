#include "cli/option_table.h"

#include "formats/translation.h"

namespace cli {

namespace {

using msg::TrLater;

constexpr Command kConvert = Command::kConvert;
constexpr Command kExtract = Command::kExtract;
constexpr Command kPack = Command::kPack;
constexpr Command kInfo = Command::kInfo;
constexpr Command kThumbnail = Command::kThumbnail;
constexpr Command kSampleDisc = Command::kSampleDisc;
constexpr Command kWallpaper = Command::kWallpaper;
constexpr Command kOverview = Command::kNone;

constexpr CommandSet kEveryCommand = Commands(kOverview, kConvert, kExtract, kPack, kInfo,
                                              kThumbnail, kSampleDisc, kWallpaper);

// Sizes offered to complete --size: common screens and the samples' own.
constexpr const char* kScreenSizes =
    "640x480 800x600 1024x768 1280x960 1600x1200 1920x1080 2560x1440 3200x2400";
constexpr const char* kModes = "1 4 5 8 9 16 24 48";
constexpr const char* kFits = "stretch cover";

// The closing words of extract's and pack's helps.
constexpr const char* kWrittenWhole =
    TrLater(R"(An output file appears only when it was written whole. No picture is
written to a terminal.
)");

// The help texts are broken into lines as shown; HelpText indents them.
// {NAME}s stand for the limits the tool keeps (see HelpText).
const std::vector<OptionEntry> kOptions = {
    {OptionId::kOutput, "-o", nullptr, true,
     {{Commands(kConvert), "OUT.bmp|OUT.png",
       TrLater(R"(the output file, for a single input; - for standard
output; default: the input's name with .bmp (or
.png), in the current directory)"),
       Completion::kFiles, "@(bmp|png)", true},
      {Commands(kExtract), "OUT.png|OUT.ppm",
       TrLater(R"(the output file, for a single input; - for standard
output (png unless --format says ppm); default: the
input's name with .png (or .ppm), in the current
directory)"),
       Completion::kFiles, "@(png|ppm)", true},
      {Commands(kPack), "OUT.rq6",
       TrLater(R"(the output file, for a single input; - for standard
output; default: the input's name with .rq6, in the
current directory)"),
       Completion::kFiles, "rq6", true}}},
    {OptionId::kOutDir, nullptr, "--out-dir", true,
     {{Commands(kConvert, kExtract, kPack), "DIR",
       TrLater("the directory for the output files (it must exist)"),
       Completion::kDirectories}}},
    {OptionId::kThumbnailSize, "-s", nullptr, true,
     {{Commands(kThumbnail), "SIZE",
       TrLater("the longer side in pixels, from 1 to {MAX_SIDE}; default {THUMBNAIL_SIZE}"),
       Completion::kWords, "128 256 512 1024"}}},
    {OptionId::kSize, nullptr, "--size", true,
     {{Commands(kConvert), "WxH",
       TrLater(R"(the output size in pixels, from 1x1 to {MAX_SIDE}x{MAX_SIDE}, in
any proportions; default: the picture's own size)"),
       Completion::kWords, kScreenSizes},
      {Commands(kWallpaper), "WxH",
       TrLater(R"(the size in pixels instead of the screen's, from 1x1 to
{MAX_SIDE}x{MAX_SIDE})"),
       Completion::kWords, kScreenSizes}}},
    {OptionId::kFit, nullptr, "--fit", true,
     {{Commands(kConvert), "F",
       TrLater(R"(stretch (the default): the whole picture, stretched to
the size; cover: the largest centred part of the
picture with the size's proportions, so nothing is
distorted and the edges of one side are cut off)"),
       Completion::kWords, kFits},
      {Commands(kThumbnail), "F",
       TrLater(R"(stretch (the default) or cover, as for convert: cover cuts
off what rounding the size would otherwise stretch)"),
       Completion::kWords, kFits}}},
    {OptionId::kMode, nullptr, "--mode", true,
     {{Commands(kConvert), "M",
       TrLater(R"(the colour format; default 24:
   1  black and white       8  256 colours
   4  16 system colours     9  256 greys
   5  16 greys             16  high colour (24-bit file)
                           24  full colour
  48  16-bit RGB PNG through the contrast curve,
      undithered, for deep-colour displays)"),
       Completion::kWords, kModes},
      {Commands(kWallpaper), "M",
       TrLater(R"(the colour format as for convert; default 24 (full
colour); 48: a 16-bit PNG for deep-colour displays)"),
       Completion::kWords, kModes}}},
    {OptionId::kContrast, nullptr, "--contrast", true,
     {{Commands(kConvert), "P",
       TrLater(R"(the contrast position from 0 (brighter) to {CONTRAST_MAX}
(darker); the curve's exponent is 2.5^((P-{CONTRAST_MIDDLE})/{CONTRAST_MIDDLE});
default {CONTRAST_MIDDLE} (exponent 1.0))")},
      {Commands(kWallpaper), "P",
       TrLater(R"(the contrast position from 0 (brighter) to {CONTRAST_MAX}
(darker); default {CONTRAST_MIDDLE})")}}},
    {OptionId::kExponent, nullptr, "--exponent", true,
     {{Commands(kConvert), "X",
       TrLater(R"(the curve's exponent itself, instead of --contrast
(kept within {MIN_EXPONENT} to {MAX_EXPONENT}))")},
      {Commands(kWallpaper), "X", TrLater("the curve's exponent itself, instead of --contrast")}}},
    {OptionId::kFormat, nullptr, "--format", true,
     {{Commands(kConvert), "F",
       TrLater(R"(bmp (the default) or png: the same pixels as a PNG of
the same depth; an -o name ending in .png chooses png)"),
       Completion::kWords, "bmp png"},
      {Commands(kExtract), "F",
       TrLater("png or ppm; default: the -o name's extension, else png"), Completion::kWords,
       "png ppm"}}},
    {OptionId::kComment, nullptr, "--comment", true,
     {{Commands(kPack), "TEXT",
       TrLater(R"(the picture's comment, at most {MAX_COMMENT} bytes in code page
932 (Japanese Windows text); default: the PNG's
"Comment" text, if it has one)")}}},
    {OptionId::kNoSet, nullptr, "--no-set", false,
     {{Commands(kWallpaper), nullptr,
       TrLater(R"(write the picture and print its path, and change no
setting)")}}},
    {OptionId::kHelp, "-h", "--help", false,
     {{kEveryCommand, nullptr, TrLater("show this help and exit")}}},
    {OptionId::kVersion, nullptr, "--version", false,
     {{Commands(kOverview), nullptr, TrLater("show the version and exit")}}},
};

const std::vector<CommandEntry> kCommands = {
    {kOverview, "", nullptr,
     TrLater(R"(Usage: tavrel COMMAND [OPTION]... FILE...
Convert RQ6 pictures into BMP or PNG wallpaper, and move pictures between RQ6
and standard formats at full precision.
)"),
     TrLater(R"('tavrel COMMAND --help' shows a command's options.

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
)"),
     17, 6, false, Completion::kAnything, nullptr},
    {kConvert, "convert", TrLater("convert RQ6 pictures into BMP or PNG wallpaper"),
     TrLater(R"(Usage: tavrel convert [OPTION]... IN.rq6...
Convert each RQ6 picture into a BMP (or PNG) file: scaled by area averaging,
passed through the contrast curve and reduced to the chosen colour format
with ordered dithering. IN.rq6 may be - for standard input, with -o.
)"),
     TrLater(R"(An output appears only when its conversion succeeded: a failure leaves no
partial file, and an existing file of the same name stays as it was. No
picture is written to a terminal.
)"),
     22, 6, true, Completion::kFiles, "rq6"},
    {kExtract, "extract", TrLater("write RQ6 pictures at full precision as 16-bit PNG or PPM"),
     TrLater(R"(Usage: tavrel extract [OPTION]... IN.rq6...
Write each RQ6 picture at its own size and full 16-bit precision: as 16-bit
RGB PNG with the comment in a "Comment" text chunk (UTF-8), or as binary PPM
with maximum value 65535 (pixels only). IN.rq6 may be - for standard input,
with -o.
)"),
     kWrittenWhole,
     22, 6, true, Completion::kFiles, "rq6"},
    {kPack, "pack", TrLater("make RQ6 pictures from PNG, PPM or PGM pictures"),
     TrLater(R"(Usage: tavrel pack [OPTION]... IN.png|IN.ppm|IN.pgm...
Pack each PNG, PPM or PGM picture into an RQ6 file. 16-bit samples are kept as
they are; lower depths are scaled to 16 bits (an 8-bit v becomes 257 v); grey
goes into all three channels, palettes are looked up and alpha is dropped. At
most {MAX_SIDE} pixels a side and {MAX_MEGAPIXELS} megapixels.
)"),
     kWrittenWhole,
     22, 6, false, Completion::kFiles, "@(png|ppm|pgm)"},
    {kInfo, "info", TrLater("show an RQ6 picture's size, comment and header fields"),
     TrLater(R"(Usage: tavrel info IN.rq6
Show the picture's size, its comment (in UTF-8), every header field and the
size of its code tree. IN.rq6 may be - for standard input.
)"),
     nullptr, 14, 6, true, Completion::kFiles, "rq6"},
    // Its picture first, then the PNG file to write.
    {kThumbnail, "thumbnail", TrLater("write a small full-colour PNG of an RQ6 picture"),
     TrLater(R"(Usage: tavrel thumbnail [-s SIZE] [--fit F] IN.rq6 OUT.png
Write a full-colour PNG of the picture with its longer side SIZE pixels long,
in the picture's proportions, through the default tone curve (exponent 1.0).
A picture no larger than SIZE keeps its own size. IN.rq6 may be - for
standard input, OUT.png - for standard output.
)"),
     TrLater(R"(OUT.png appears only when the thumbnail was made; otherwise the exit status
says what failed. No picture is written to a terminal.
)"),
     14, 2, true, Completion::kFiles, "rq6 png"},
    {kSampleDisc, "sample-disc", TrLater("write the five sample pictures into a directory"),
     TrLater(R"(Usage: tavrel sample-disc DIR
Write the five sample pictures, {SAMPLE_WIDTH} x {SAMPLE_HEIGHT} at 16 bits per channel, to
DIR/Extends/Sg006.rq6 ... Sg010.rq6, making the folders as needed.
)"),
     nullptr, 14, 6, false, Completion::kDirectories, nullptr},
    {kWallpaper, "wallpaper",
     TrLater("make an RQ6 picture the desktop's wallpaper, filling the screen"),
     TrLater(R"(Usage: tavrel wallpaper [OPTION]... IN.rq6
Make the picture the desktop's wallpaper: convert it to the screen's size,
cropped to the screen's proportions as convert --fit cover does, into
$XDG_DATA_HOME/backgrounds/tavrel/NAME-WxH.png (by default in
~/.local/share), print that file's path, and set it as the wallpaper of the
desktop XDG_CURRENT_DESKTOP names: GNOME, Unity, Budgie, Pantheon,
Cinnamon, MATE, KDE Plasma, Xfce or LXQt.

The size is that of the primary monitor (else the largest), read from the X
display through XRandR, which XWayland has too.
)"),
     TrLater(R"(Without a size (no X display, or Wayland without X11), the command says so
and exits with 64: give --size. A picture written but not set as the
wallpaper (an unknown desktop, a missing schema or program) gives exit
status 69, with the reason.
)"),
     22, 6, false, Completion::kFiles, "rq6"},
};

}  // namespace

const std::vector<OptionEntry>& AllOptions() { return kOptions; }

const std::vector<CommandEntry>& AllCommands() { return kCommands; }

const CommandEntry* FindCommand(const std::string& name) {
    for (const auto& c : kCommands) {
        if (c.command != Command::kNone && name == c.name) return &c;
    }
    return nullptr;
}

const CommandEntry* EntryOf(Command command) {
    for (const auto& c : kCommands) {
        if (c.command == command) return &c;
    }
    return nullptr;
}

const char* CommandName(Command command) {
    const CommandEntry* entry = EntryOf(command);
    return entry != nullptr ? entry->name : "";
}

const OptionUse* UseOf(const OptionEntry& option, Command command) {
    for (const auto& use : option.uses) {
        if ((use.commands & Commands(command)) != 0) return &use;
    }
    return nullptr;
}

const OptionEntry* FindOption(Command command, const std::string& name) {
    for (const auto& o : kOptions) {
        const bool spelled = (o.shortName != nullptr && name == o.shortName) ||
                             (o.longName != nullptr && name == o.longName);
        if (spelled && UseOf(o, command) != nullptr) return &o;
    }
    return nullptr;
}

}  // namespace cli
