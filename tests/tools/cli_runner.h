// Runs the tavrel tool as a user would, for the suites that check what it
// prints, returns and leaves on disk.
#pragma once

#include <string>
#include <vector>

namespace test {

struct CliRun {
    int exit = -1;
    std::string out, err;
};

// Runs tavrel with `args` (shell syntax) in the current directory.
CliRun Tavrel(const std::string& args);

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> Listing(const std::string& dir);

std::string Slurp(const std::string& path);

}  // namespace test
