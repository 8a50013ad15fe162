#include "tests/tools/cli_runner.h"

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

#include "tests/engine/test_support.h"

namespace test {

std::string Slurp(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

CliRun Tavrel(const std::string& args) {
    const std::string command = std::string(TAVREL_EXE) + " " + args + " >cli.out 2>cli.err";
    const int raw = std::system(command.c_str());
    CliRun r;
    r.exit = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp("cli.out");
    r.err = Slurp("cli.err");
    return r;
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
