// Outputs of the tool appear whole or not at all: each is written under a
// temporary name beside its target and renamed once complete.
#pragma once

#include <cstdint>
#include <string>

namespace output {

// A fresh temporary name in the directory of `target`.
std::string TemporaryPath(const std::string& target);

// Renames a finished temporary file to its target. A status other than 0 (or
// a rename that fails) removes the temporary instead; returns the final
// status, kStatusOutputNotCreated when only the rename failed.
std::uint32_t Commit(const std::string& temporary, const std::string& target, std::uint32_t status);

// Size of a file in bytes, 0 when it cannot be seen.
std::uint64_t FileSize(const std::string& path);

}  // namespace output
