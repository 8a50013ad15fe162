#include "cli/help_text.h"

#include <algorithm>
#include <cstdio>

#include "cli/messages.h"
#include "cli/options.h"
#include "engine/gamma_table.h"
#include "engine/limits.h"
#include "formats/full_picture.h"
#include "samples/sample_disc.h"
#include "tavrel_version.h"

namespace cli {

namespace {

using msg::Tr;

// The spaces before a column, at least two after what stands there.
std::string PadTo(const std::string& text, std::size_t column) {
    return text + std::string(text.size() + 2 <= column ? column - text.size() : 2, ' ');
}

// "  LEFT  first line\n" with the help's further lines under its first.
std::string Entry(const std::string& left, const char* help, int column) {
    const std::string text = WithLimits(Tr(help));
    const auto col = static_cast<std::size_t>(column);
    std::string out = PadTo(left, col);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (start != 0) out += std::string(col, ' ');
        out += text.substr(start, end - start) + "\n";
        if (end == std::string::npos) return out;
        start = end + 1;
    }
}

// "-h, --help", "-o OUT.rq6", "    --size WxH", as the option list shows them.
std::string Spelling(const OptionEntry& option, const OptionUse& use, int longIndent) {
    std::string text(option.shortName != nullptr ? 2 : static_cast<std::size_t>(longIndent), ' ');
    if (option.shortName != nullptr) text += option.shortName;
    if (option.shortName != nullptr && option.longName != nullptr) text += ", ";
    if (option.longName != nullptr) text += option.longName;
    if (use.argument != nullptr) text += std::string(" ") + use.argument;
    return text;
}

std::string OptionList(const CommandEntry& entry) {
    std::string out = std::string(Tr("Options:")) + "\n";
    for (const OptionEntry& option : AllOptions()) {
        if (const OptionUse* use = UseOf(option, entry.command))
            out += Entry(Spelling(option, *use, entry.longIndent), use->help, entry.helpColumn);
    }
    return out;
}

std::string CommandList() {
    std::size_t longest = 0;
    for (const CommandEntry& c : AllCommands()) longest = std::max(longest, std::string(c.name).size());
    std::string out = std::string(Tr("Commands:")) + "\n";
    for (const CommandEntry& c : AllCommands()) {
        if (c.summary != nullptr)
            out += Entry(std::string("  ") + c.name, c.summary, static_cast<int>(longest + 4));
    }
    return out;
}

void Replace(std::string* text, const std::string& name, const std::string& value) {
    const std::string field = "{" + name + "}";
    for (std::size_t at = text->find(field); at != std::string::npos; at = text->find(field, at))
        text->replace(at, field.size(), value);
}

void Replace(std::string* text, const std::string& name, long long value) {
    Replace(text, name, std::to_string(value));
}

// A bound such as 0.001 or 1000, in the shortest form that reads back as it.
void ReplaceReal(std::string* text, const std::string& name, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", value);
    Replace(text, name, std::string(number));
}

}  // namespace

std::string WithLimits(std::string text) {
    Replace(&text, "MAX_SIDE", limits::kMaxSide);
    Replace(&text, "MAX_MEGAPIXELS", limits::kMaxInputMegapixels);
    Replace(&text, "MAX_COMMENT", static_cast<long long>(full::kMaxCommentBytes));
    Replace(&text, "CONTRAST_MAX", ContrastTable::kPositions - 1);
    Replace(&text, "CONTRAST_MIDDLE", ContrastTable::kMiddle);
    ReplaceReal(&text, "MIN_EXPONENT", kMinExponent);
    ReplaceReal(&text, "MAX_EXPONENT", kMaxExponent);
    Replace(&text, "THUMBNAIL_SIZE", kDefaultThumbnailSize);
    Replace(&text, "SAMPLE_WIDTH", rq6::kSampleWidth);
    Replace(&text, "SAMPLE_HEIGHT", rq6::kSampleHeight);
    return text;
}

std::string HelpText(Command command) {
    const CommandEntry* entry = EntryOf(command);
    if (entry == nullptr) entry = EntryOf(Command::kNone);
    std::string out = WithLimits(Tr(entry->usage)) + "\n";
    if (entry->command == Command::kNone) out += CommandList() + "\n";
    out += OptionList(*entry);
    if (entry->epilogue != nullptr) out += "\n" + WithLimits(Tr(entry->epilogue));
    return out;
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

}  // namespace cli
