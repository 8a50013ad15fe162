// Runs another program the way the desktop's own tools expect to be run:
// found on PATH, started with fork and exec (its arguments reach it as they
// are, with no shell to quote for), its output captured, and given up on
// when it does not finish in time.
#pragma once

#include <string>
#include <vector>

namespace child {

// A program that has not finished after this long is taken to hang (one
// waiting for a session bus that never answers, say) and is killed. Setting
// a wallpaper takes a fraction of a second.
inline constexpr int kTimeoutSeconds = 30;

// Standard output or error beyond this is read and dropped: the programs run
// here print a few lines, and a runaway one must not fill the memory.
inline constexpr std::size_t kMaxCapturedBytes = 1 << 20;

struct Result {
    bool ran = false;  // it was started and ended by itself
    int status = -1;   // its exit status when it ran; -1 for a signal
    std::string out, err;
    std::string problem;  // when it did not run or failed: why, in the user's language
    bool Succeeded() const { return ran && status == 0; }
};

// The path of the executable file `name` in one of PATH's directories, the
// first that has it; "" when there is none.
std::string FindOnPath(const std::string& name);

// Runs argv[0] (found on PATH) with the arguments argv[1...], standard input
// from /dev/null. `problem` says what went wrong when it could not be found
// or started, did not finish, died of a signal or exited with a non-zero
// status, with the first line of what it printed on stderr.
Result Run(const std::vector<std::string>& argv);

}  // namespace child
