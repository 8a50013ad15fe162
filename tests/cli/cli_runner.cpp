#include "tests/cli/cli_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
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

// The environment of a child whose messages follow LANG=`lang` alone.
std::string Locale(const std::string& lang) {
    return "env -u LC_ALL -u LC_MESSAGES -u LC_CTYPE -u LANGUAGE LANG=" + lang + " ";
}

}  // namespace

CliRun Tavrel(const std::string& args) { return TavrelWithLang("C.UTF-8", args); }

CliRun TavrelWithLang(const std::string& lang, const std::string& args) {
    return Run(Locale(lang) + TAVREL_EXE + " " + args);
}

CliRun TavrelWritingTo(const std::string& file, const std::string& args) {
    // The inner redirection takes standard output from the outer one.
    return Run("(" + Locale("C.UTF-8") + TAVREL_EXE + " " + args + " >" + file + ")");
}

CliRun TavrelOnATerminal(const std::string& args) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
    CliRun r = TavrelWritingTo(ptsname(master), args);
    fcntl(master, F_SETFL, O_NONBLOCK);
    r.out.clear();
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) r.out.append(buffer, static_cast<std::size_t>(n));
    close(master);
    return r;
}

CliRun TavrelIntoAClosedPipe(const std::string& args) {
    // The pipe's reader ends at once; the tool's status and messages are
    // kept by the subshell.
    Run("(" + Locale("C.UTF-8") + TAVREL_EXE + " " + args +
        " 2>cli.pipe-err; echo $? >cli.pipe-status) | true");
    CliRun r;
    r.exit = std::atoi(Slurp("cli.pipe-status").c_str());
    r.err = Slurp("cli.pipe-err");
    return r;
}

CliRun TavrelIn(const std::string& environment, const std::string& args) {
    return Run("env -i LANG=C.UTF-8 " + environment + " " + TAVREL_EXE + " " + args);
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CliRun TavrelReadingAtMost(std::uint64_t bytes, const std::string& args) {
    return Run(Locale("C.UTF-8") + "TAVREL_TEST_READ_LIMIT=" + std::to_string(bytes) + " " +
               TAVREL_READ_FAULTS_EXE + " " + args);
}

bool HasLocale(const std::string& name) {
    const std::string command = "locale -a 2>/dev/null | grep -qx '" + name + "'";
    return std::system(command.c_str()) == 0;
}

std::string UsageError(const std::string& message, const std::string& command) {
    const std::string program = command.empty() ? "tavrel" : "tavrel " + command;
    return "tavrel: " + message + "\nTry '" + program + " --help'.\n";
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
