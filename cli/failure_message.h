// How the tool reports a failure: one line naming the file, what failed and,
// where it is known, why.
#pragma once

#include <cstdint>
#include <string>

namespace command {

// True for the statuses that concern the output rather than the input.
bool IsOutputFailure(std::uint32_t status);

// The message for a failure with `path`, in the user's language, as the
// tool prints it: "tavrel: cannot open PATH: REASON" and a newline. Without a
// reason the status's own words.
std::string FailureMessage(const std::string& path, std::uint32_t status,
                           const std::string& reason = "");

// Prints FailureMessage on stderr.
void ReportFailure(const std::string& path, std::uint32_t status, const std::string& reason = "");

// What the system says of an error number, or "" for 0.
std::string SystemReason(int error);

// Prints "tavrel: PATH: WARNING" on stderr, if there is a warning.
void Warn(const std::string& path, const std::string& warning);

}  // namespace command
