// The tool's bash completion, made from the command and option tables when
// the tool is built, so that it offers what the parser takes.
#pragma once

#include <string>

namespace cli {

// The whole completion script, for
// share/bash-completion/completions/tavrel.
std::string BashCompletion();

}  // namespace cli
