// What the tool prints when asked what it is: the helps, made from the
// command and option tables, and the version.
#pragma once

#include <string>

#include "cli/option_table.h"

namespace cli {

// The help of a command, or with kNone the overview, in the user's language.
std::string HelpText(Command command);

// "Try 'tavrel --help'." or, for a recognised command, its own help.
std::string TryHelpLine(Command command);

// What --version prints.
std::string VersionText();

// `text` with the limits it quotes ("{MAX_SIDE}") filled in.
std::string WithLimits(std::string text);

}  // namespace cli
