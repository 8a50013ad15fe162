#include "cli/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli/messages.h"

namespace child {

namespace {

using msg::Tr;

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The first line of what a program said, for a one-line message.
std::string FirstLine(const std::string& text) {
    const auto start = text.find_first_not_of(" \t\n");
    if (start == std::string::npos) return {};
    const auto end = text.find('\n', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// How often a program that keeps its output open is asked whether it has
// ended: a program that starts a daemon (pcmanfm-qt starting the desktop
// when none runs, say) may leave it holding the pipes long after it exits.
constexpr int kExitCheckMilliseconds = 100;

// Collects standard output and error until the child has ended and nothing
// more is waiting in the pipes, or the time is up. False when it is; else
// *wstatus is the child's.
bool Collect(pid_t pid, int outFd, int errFd, Result* result, int* wstatus) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result->out, &result->err};
    int open = 2;
    bool ended = false;
    for (;;) {
        if (!ended) ended = ::waitpid(pid, wstatus, WNOHANG) == pid;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (ended && open == 0) return true;
        if (left.count() <= 0) return ended;
        if (open == 0) {
            // Both pipes are closed and the child is about to end.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        // Once it has ended, only what is already in the pipes is read.
        const int wait =
            ended ? 0 : static_cast<int>(std::min<long long>(left.count(), kExitCheckMilliseconds));
        const int n = ::poll(fds, 2, wait);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            if (ended) return true;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                fds[i].fd = -1;  // poll skips it from now on
                --open;
            } else if (sinks[i]->size() < kMaxCapturedBytes) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
}

}  // namespace

std::string FindOnPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        // An empty entry is the current directory, as for the shell.
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

Result Run(const std::vector<std::string>& argv) {
    Result result;
    const std::string program = FindOnPath(argv.at(0));
    if (program.empty()) {
        result.problem =
            msg::Format(Tr("%s is not installed (not found on PATH)"), argv[0].c_str());
        return result;
    }
    // Everything the child needs is made before fork: between fork and exec
    // only async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        result.problem = msg::SystemReason(errno);
        return result;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        result.problem = msg::SystemReason(errno);
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (devNull >= 0) ::dup2(devNull, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execv(program.c_str(), args.data());
        ::_exit(127);  // as a shell reports a program it could not run
    }
    const int forkError = errno;
    if (devNull >= 0) ::close(devNull);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        result.problem = msg::SystemReason(forkError);
        return result;
    }
    int wstatus = 0;
    const bool finished = Collect(pid, out[0], err[0], &result, &wstatus);
    ::close(out[0]);
    ::close(err[0]);
    if (!finished) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
    }
    const std::string name = argv[0];
    if (!finished) {
        result.problem =
            msg::Format(Tr("%s did not finish within %d seconds"), name.c_str(), kTimeoutSeconds);
        return result;
    }
    if (!WIFEXITED(wstatus)) {
        result.problem = msg::Format(Tr("%s was ended by signal %d"), name.c_str(),
                                     WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0);
        return result;
    }
    result.ran = true;
    result.status = WEXITSTATUS(wstatus);
    if (result.status != 0) {
        const std::string said = FirstLine(result.err);
        result.problem = said.empty() ? msg::Format(Tr("%s failed with exit status %d"),
                                                    name.c_str(), result.status)
                                      : msg::Format(Tr("%s failed with exit status %d: %s"),
                                                    name.c_str(), result.status, said.c_str());
    }
    return result;
}

}  // namespace child
