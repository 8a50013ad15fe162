// What every command of the tool does the same way: outputs appear whole or
// not at all (each is written under a temporary name beside its target and
// renamed once complete), failures are reported alike, one line saying what
// failed and why, and with several inputs the rest are still done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace command {

// A fresh temporary name in the directory of `target`.
std::string TemporaryPath(const std::string& target);

// Renames a finished temporary file to its target. A status other than 0 (or
// a rename that fails) removes the temporary instead; returns the final
// status, kStatusOutputNotCreated when only the rename failed. For a failure
// of the output (not created, not written) with no reason in *reason yet,
// the system's reason is looked for before the temporary goes, and put there.
std::uint32_t Commit(const std::string& temporary, const std::string& target, std::uint32_t status,
                     std::string* reason);

// Size of a file in bytes, 0 when it cannot be seen.
std::uint64_t FileSize(const std::string& path);

// True for the statuses that concern the output rather than the input.
bool IsOutputFailure(std::uint32_t status);

// The message for a failure with `path`, in the user's language, as the
// tool prints it: "tavrel: cannot open PATH: REASON" and a newline. Without a
// reason the status's own words.
std::string FailureMessage(const std::string& path, std::uint32_t status,
                           const std::string& reason = "");

// Prints FailureMessage on stderr.
void ReportFailure(const std::string& path, std::uint32_t status, const std::string& reason = "");

// Why the RQ6 picture `path` failed with `status`, found by looking at the
// file again: the system's reason it cannot be opened or read, that it ends
// early, or what kind of file it is when it is not an RQ6 file. The message
// as ReportFailure prints it.
std::string Rq6FailureMessage(const std::string& path, std::uint32_t status);

// Prints Rq6FailureMessage on stderr and returns the status.
std::uint32_t ReportRq6Failure(const std::string& path, std::uint32_t status);

// The end of making `target` from the RQ6 picture `input`: commits the
// temporary, and on failure reports it against the output or the input,
// whichever failed. Returns the final status.
std::uint32_t Finish(const std::string& input, const std::string& target,
                     const std::string& temporary, std::uint32_t status, std::string reason = "");

// Prints "tavrel: PATH: WARNING" on stderr, if there is a warning.
void Warn(const std::string& path, const std::string& warning);

// The status of an output that is an input of the run: a slip on the command
// line, so the status of one (cli::kExitUsage).
inline constexpr std::uint32_t kStatusOutputIsInput = 64;

// 0 when `output` is none of `inputs` on disk. Otherwise the output would
// destroy a picture of the run, whatever name or link it is reached by: says
// so on stderr and returns kStatusOutputIsInput.
std::uint32_t RefuseOutputThatIsAnInput(const std::string& output,
                                        const std::vector<std::string>& inputs);

// Runs `one` (input -> status) for every input, even after a failure, and
// returns the first failure's status, or 0. Every command goes through here
// with `outputOf` (input -> the path it writes), so that none can write over
// any of its inputs: such an input is refused before anything is read or
// written for it.
template <typename OutputOf, typename One>
int ForEachInput(const std::vector<std::string>& inputs, OutputOf outputOf, One one) {
    std::uint32_t firstFailure = 0;
    for (const auto& input : inputs) {
        std::uint32_t status = RefuseOutputThatIsAnInput(outputOf(input), inputs);
        if (status == 0) status = one(input);
        if (status != 0 && firstFailure == 0) firstFailure = status;
    }
    return static_cast<int>(firstFailure);
}

}  // namespace command
