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

// Runs tavrel with `args` (shell syntax) in the current directory.
CliRun Tavrel(const std::string& args);

// The same with the test build of the tool, reading its files as from a
// scratched disc with a bad spot after the first `bytes` bytes of each.
CliRun TavrelReadingAtMost(std::uint64_t bytes, const std::string& args);

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> Listing(const std::string& dir);

std::string Slurp(const std::string& path);

}  // namespace test
