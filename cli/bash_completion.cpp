#include "cli/bash_completion.h"

#include <sstream>

#include "cli/option_table.h"

namespace cli {

namespace {

bool IsCommand(const CommandEntry& c) { return c.command != Command::kNone; }

// The spellings of `option` joined by `separator`: "-o", "-h|--help".
std::string Spellings(const OptionEntry& option, const char* separator) {
    std::string text = option.shortName != nullptr ? option.shortName : "";
    if (option.shortName != nullptr && option.longName != nullptr) text += separator;
    if (option.longName != nullptr) text += option.longName;
    return text;
}

// What completing one word does: offer words, files or directories.
std::string Offer(Completion completion, const char* words) {
    switch (completion) {
        case Completion::kWords:
            return std::string("_tavrel_words '") + words + "' \"$cur\"";
        case Completion::kFiles:
            return std::string("_filedir '") + words + "'";
        case Completion::kDirectories:
            return "_filedir -d";
        default:
            return ":";
    }
}

// The case lines that complete the value after an option.
void ValueCases(std::ostringstream& out) {
    for (const OptionEntry& option : AllOptions()) {
        if (!option.takesValue) continue;
        for (const OptionUse& use : option.uses) {
            std::string labels;
            for (const CommandEntry& c : AllCommands()) {
                if (!IsCommand(c) || (use.commands & Commands(c.command)) == 0) continue;
                for (const std::string& spelling :
                     {std::string(option.shortName ? option.shortName : ""),
                      std::string(option.longName ? option.longName : "")}) {
                    if (spelling.empty()) continue;
                    labels += (labels.empty() ? "" : " | ") + std::string(c.name) + "," + spelling;
                }
            }
            if (labels.empty()) continue;
            out << "            " << labels << ")\n                "
                << Offer(use.completion, use.words);
            if (use.dashIsStream) out << "\n                [[ $cur == - ]] && COMPREPLY+=(-)";
            out << "\n                return\n                ;;\n";
        }
    }
}

// The options each command is offered, long spellings first; "-" where it
// reads standard input.
void OptionCases(std::ostringstream& out) {
    for (const CommandEntry& c : AllCommands()) {
        if (!IsCommand(c)) continue;
        std::string words = c.readsStandardInput ? "-" : "";
        for (const OptionEntry& option : AllOptions()) {
            if (UseOf(option, c.command) == nullptr) continue;
            words += (words.empty() ? "" : " ") +
                     std::string(option.longName != nullptr ? option.longName : option.shortName);
        }
        out << "                " << c.name << ") options='" << words << "' ;;\n";
    }
}

// A command whose operands are of several kinds, in order ("rq6 png"):
// counts the operands before the word.
void PositionalOperands(std::ostringstream& out, const CommandEntry& c) {
    std::string valued;
    for (const OptionEntry& option : AllOptions()) {
        if (option.takesValue && UseOf(option, c.command) != nullptr)
            valued += (valued.empty() ? "" : "|") + Spellings(option, "|");
    }
    out << "        " << c.name << ")\n"
        << "            local operands=0 dashes=0\n"
        << "            for ((i = 2; i < cword; i++)); do\n"
        << "                if ((!dashes)) && [[ ${words[i]} == @(" << valued << ") ]]; then\n"
        << "                    ((i++))\n"
        << "                elif ((!dashes)) && [[ ${words[i]} == -- ]]; then\n"
        << "                    dashes=1\n"
        << "                else\n"
        << "                    ((operands++))\n"
        << "                fi\n"
        << "            done\n"
        << "            case $operands in\n";
    std::istringstream kinds(c.operandWords);
    std::string kind;
    for (int n = 0; kinds >> kind; ++n) {
        out << "                " << (kinds.peek() == EOF ? std::string("*") : std::to_string(n))
            << ") _filedir '" << kind << "' ;;\n";
    }
    out << "            esac\n            ;;\n";
}

void OperandCases(std::ostringstream& out) {
    for (const CommandEntry& c : AllCommands()) {
        if (!IsCommand(c)) continue;
        if (c.operandWords != nullptr && std::string(c.operandWords).find(' ') != std::string::npos) {
            PositionalOperands(out, c);
        } else {
            out << "        " << c.name << ") " << Offer(c.operands, c.operandWords) << " ;;\n";
        }
    }
}

std::string FirstWords() {
    std::string words;
    for (const CommandEntry& c : AllCommands()) {
        if (IsCommand(c)) words += std::string(c.name) + " ";
    }
    for (const OptionEntry& option : AllOptions()) {
        if (UseOf(option, Command::kNone) != nullptr && option.longName != nullptr)
            words += std::string(option.longName) + " ";
    }
    words.pop_back();
    return words;
}

}  // namespace

std::string BashCompletion() {
    std::ostringstream out;
    out << R"(# bash completion for tavrel                               -*- shell-script -*-
# Made from the tool's option table when the tool was built.

# Offers those of the words $1 that begin with $2.
_tavrel_words()
{
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

_tavrel()
{
    local cur prev words cword
    _init_completion || return

    if ((cword == 1)); then
        _tavrel_words ')"
        << FirstWords() << R"(' "$cur"
        return
    fi
    local command=${words[1]}

    # After "--" every word is a file name.
    local i options_end=0
    for ((i = 2; i < cword; i++)); do
        [[ ${words[i]} == -- ]] && options_end=1 && break
    done

    if ((!options_end)); then
        # An option's value; "-o -" writes standard output.
        case $command,$prev in
)";
    ValueCases(out);
    out << R"(        esac

        if [[ $cur == -* ]]; then
            # A lone "-" is standard input (and the thumbnail's output).
            local options=''
            case $command in
)";
    OptionCases(out);
    out << R"(            esac
            _tavrel_words "$options --" "$cur"
            return
        fi
    fi

    case $command in
)";
    OperandCases(out);
    out << R"(    esac
} &&
    complete -F _tavrel tavrel

# ex: filetype=sh
)";
    return out.str();
}

}  // namespace cli
