// Outputs appear whole or not at all: each is written under a temporary name
// beside its target and renamed once complete, so that a failure leaves no
// partial file and an existing file of the same name as it was.
#pragma once

#include <cstdint>
#include <string>

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

// The end of making `output` from the RQ6 picture `input` read with
// `reader`: closes and commits the output, and on failure reports it against
// the output (with `reason`, the output's own) or the input, whichever
// failed. Returns the final status.
std::uint32_t Finish(PictureInput& input, const PictureReader& reader, Output* output,
                     std::uint32_t status, std::string reason = "");

// The same for an output whose input has been read whole: any failure is the
// output's.
std::uint32_t FinishOutput(Output* output, std::uint32_t status, std::string reason = "");

// Size of a file in bytes, 0 when it cannot be seen.
std::uint64_t FileSize(const std::string& path);

}  // namespace command
