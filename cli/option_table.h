// What the tool's command line is made of: its commands and their options,
// each declared once. The parser, every --help and the bash completion are
// made from these tables, so that none of them can know an option the others
// do not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// kNone: no command (yet); with `help`, the overview.
enum class Command {
    kNone,
    kConvert,
    kExtract,
    kPack,
    kInfo,
    kThumbnail,
    kSampleDisc,
    kVersion,
    kWallpaper
};

// A set of commands, a bit each.
using CommandSet = std::uint32_t;

constexpr CommandSet Commands(Command command) {
    return CommandSet{1} << static_cast<unsigned>(command);
}
template <typename... More>
constexpr CommandSet Commands(Command first, More... more) {
    return Commands(first) | Commands(more...);
}

// What the parser does with an option.
enum class OptionId {
    kOutput,
    kOutDir,
    kThumbnailSize,
    kSize,
    kFit,
    kMode,
    kContrast,
    kExponent,
    kFormat,
    kComment,
    kNoSet,
    kHelp,
    kVersion
};

// How the shell completes a word: an option's value or a command's operand.
enum class Completion {
    kAnything,     // free text: nothing is offered
    kWords,        // one of `words`
    kFiles,        // file names matching the extglob pattern `words`
    kDirectories,  // directory names
};

// One meaning of an option, for the commands in `commands`: -o names a
// bitmap for convert and an RQ6 file for pack.
struct OptionUse {
    CommandSet commands = 0;
    const char* argument = nullptr;  // as --help shows the value ("OUT.bmp|OUT.png")
    const char* help = nullptr;      // English, lines broken, translated when shown
    Completion completion = Completion::kAnything;
    const char* words = nullptr;
    bool dashIsStream = false;  // "-" (standard output) is a value as well
};

// The most meanings an option has.
inline constexpr int kMaxUses = 3;

// An option, in the order the helps list them.
struct OptionEntry {
    OptionId id;
    const char* shortName;  // "-o", or nullptr
    const char* longName;   // "--out-dir", or nullptr
    bool takesValue;
    OptionUse uses[kMaxUses];
};

// A command, and how its help is laid out.
struct CommandEntry {
    Command command;
    const char* name;      // as typed; "" for the overview
    const char* summary;   // its line in the overview
    const char* usage;     // the help before its options, from the "Usage:" line on
    const char* epilogue;  // the help after them, or nullptr
    int helpColumn;        // where the options' descriptions start
    int longIndent;        // where an option without a short name starts
    bool readsStandardInput;
    Completion operands;
    const char* operandWords;
};

// Every option; every command, the overview (kNone) first.
const std::vector<OptionEntry>& AllOptions();
const std::vector<CommandEntry>& AllCommands();

// The command typed as `name`, or nullptr; the overview is no command.
const CommandEntry* FindCommand(const std::string& name);

// The entry of `command` (kNone: the overview; kVersion has none: nullptr).
const CommandEntry* EntryOf(Command command);

// The command's name as typed ("convert"); "" for kNone and kVersion.
const char* CommandName(Command command);

// What `option` means to `command`, or nullptr when the command does not
// take it.
const OptionUse* UseOf(const OptionEntry& option, Command command);

// The option spelled exactly `name` ("-o", "--size") that `command` takes,
// or nullptr.
const OptionEntry* FindOption(Command command, const std::string& name);

}  // namespace cli
