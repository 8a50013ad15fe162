#include "tests/tools/cli_runner.h"

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/engine/test_support.h"

namespace test {

std::string Slurp(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

namespace {

CliRun Run(const std::string& commandLine) {
    const std::string command = commandLine + " >cli.out 2>cli.err";
    const int raw = std::system(command.c_str());
    CliRun r;
    r.exit = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp("cli.out");
    r.err = Slurp("cli.err");
    return r;
}

}  // namespace

CliRun Tavrel(const std::string& args) { return Run(std::string(TAVREL_EXE) + " " + args); }

CliRun TavrelReadingAtMost(std::uint64_t bytes, const std::string& args) {
    return Run("TAVREL_TEST_READ_LIMIT=" + std::to_string(bytes) + " " + TAVREL_READ_FAULTS_EXE +
               " " + args);
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace test
