// What every command of the tool does the same way: outputs appear whole or
// not at all (each is written under a temporary name beside its target and
// renamed once complete), failures are reported alike, one line saying what
// failed and why, and with several inputs the rest are still done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/failure_message.h"
#include "cli/picture_input.h"
#include "engine/picture_reader.h"
#include "platform/file_io.h"

namespace command {

// A fresh temporary name in the directory of `target`.
std::string TemporaryPath(const std::string& target);

// Renames a finished temporary file to its target. A status other than 0 (or
// a rename that fails) removes the temporary instead; returns the final
// status, kStatusOutputNotCreated with the system's reason in *reason when
// only the rename failed.
std::uint32_t Commit(const std::string& temporary, const std::string& target, std::uint32_t status,
                     std::string* reason);

// An output while it is written: the temporary file beside its target,
// standard output for the target "-", or the target itself when it is a
// device, a pipe or a socket.
struct Output {
    std::string target;     // as on the command line
    std::string temporary;  // empty for standard output and in place
    platform::FileHandle file = platform::kInvalidFile;
    bool inPlace = false;   // the target itself is open, and closed by CloseOutput
};

// Creates the temporary file of `target`, or takes standard output.
// kStatusOutputNotCreated, with the system's reason in *reason, when the
// file cannot be created.
std::uint32_t OpenOutput(const std::string& target, Output* out, std::string* reason);

// Closes the temporary file and commits it (Commit); standard output stays
// as it is. Returns the final status.
std::uint32_t CloseOutput(Output* out, std::uint32_t status, std::string* reason);

// What the system says of an error number, or "" for 0.
std::string SystemReason(int error);

// Size of a file in bytes, 0 when it cannot be seen.
std::uint64_t FileSize(const std::string& path);

// The end of making `output` from the RQ6 picture `input` read with
// `reader`: closes and commits the output, and on failure reports it against
// the output (with `reason`, the output's own) or the input, whichever
// failed. Returns the final status.
std::uint32_t Finish(PictureInput& input, const PictureReader& reader, Output* output,
                     std::uint32_t status, std::string reason = "");

// The same for an output whose input has been read whole: any failure is the
// output's.
std::uint32_t FinishOutput(Output* output, std::uint32_t status, std::string reason = "");

// Prints "tavrel: PATH: WARNING" on stderr, if there is a warning.
void Warn(const std::string& path, const std::string& warning);

// The status of an output that is an input of the run: a slip on the command
// line, so the status of one (cli::kExitUsage).
inline constexpr std::uint32_t kStatusOutputIsInput = 64;

// 0 when `output` is none of `inputs` on disk (standard input and output are
// none). Otherwise the output would destroy a picture of the run, whatever
// name or link it is reached by: says so on stderr and returns
// kStatusOutputIsInput.
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
