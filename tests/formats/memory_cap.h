// Runs a piece of a test in a child process whose address space is capped,
// so that a test can tell "refused on the header" from "refused after taking
// the memory the header asked for": the latter fails with out of memory.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

namespace test {

// The sanitizers reserve terabytes of address space, so no cap can be set
// under them.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kCanCapMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kCanCapMemory = false;
#else
inline constexpr bool kCanCapMemory = true;
#endif
#else
inline constexpr bool kCanCapMemory = true;
#endif

// The value `body` returns (0 to 255) when run with at most `megabytes` of
// address space, or -1 when the child did not exit normally.
inline int RunWithMemoryCap(std::uint64_t megabytes, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit cap{megabytes << 20, megabytes << 20};
        setrlimit(RLIMIT_AS, &cap);
        _exit(body() & 0xFF);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace test
