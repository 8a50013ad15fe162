// Runs the tavrel tool as a user would, for the suites that check what it
// prints, returns and leaves on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

struct CliRun {
    int exit = -1;
    std::string out, err;
};

// Runs tavrel with `args` (shell syntax) in the current directory, in the
// locale C.UTF-8: messages in English, whatever the caller's environment.
CliRun Tavrel(const std::string& args);

// The same with LANG=`lang` and no other locale variable, as a user sets it.
CliRun TavrelWithLang(const std::string& lang, const std::string& args);

// The same in an environment of `environment` alone (shell words such as
// "HOME=/tmp/h DISPLAY=:5") besides LANG=C.UTF-8: nothing of the caller's
// display, desktop or home reaches the tool.
CliRun TavrelIn(const std::string& environment, const std::string& args);

// The same with standard output into `file` (a device, say) instead.
CliRun TavrelWritingTo(const std::string& file, const std::string& args);

// The same with standard output on a terminal of its own (a pseudo
// terminal); `out` is what reached the terminal.
CliRun TavrelOnATerminal(const std::string& args);

// The same with standard output into a pipe whose reader has gone.
CliRun TavrelIntoAClosedPipe(const std::string& args);

// `text` as one shell word.
std::string ShellQuoted(const std::string& text);

// The same with the test build of the tool, reading its files as from a
// scratched disc with a bad spot after the first `bytes` bytes of each.
CliRun TavrelReadingAtMost(std::uint64_t bytes, const std::string& args);

// True when `locale -a` lists the locale (e.g. "ja_JP.utf8").
bool HasLocale(const std::string& name);

// What the tool prints on stderr for a command line it cannot understand:
// the message, then where to look ("tavrel --help", or "tavrel COMMAND
// --help" when `command` is not empty).
std::string UsageError(const std::string& message, const std::string& command);

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> Listing(const std::string& dir);

std::string Slurp(const std::string& path);

}  // namespace test
