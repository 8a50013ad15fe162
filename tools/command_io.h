// What every command of the tool does the same way: outputs appear whole or
// not at all (each is written under a temporary name beside its target and
// renamed once complete), failures are reported alike, and with several
// inputs the rest are still done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace command {

// A fresh temporary name in the directory of `target`.
std::string TemporaryPath(const std::string& target);

// Renames a finished temporary file to its target. A status other than 0 (or
// a rename that fails) removes the temporary instead; returns the final
// status, kStatusOutputNotCreated when only the rename failed.
std::uint32_t Commit(const std::string& temporary, const std::string& target, std::uint32_t status);

// Size of a file in bytes, 0 when it cannot be seen.
std::uint64_t FileSize(const std::string& path);

// Prints "tavrel: PATH:" and the message on stderr; without a message, the
// status's own.
void ReportFailure(const std::string& path, std::uint32_t status, const std::string& message = "");

// Prints "tavrel: PATH: WARNING" on stderr, if there is a warning.
void Warn(const std::string& path, const std::string& warning);

// Runs `one` (input -> status) for every input, even after a failure, and
// returns the first failure's status, or 0.
template <typename One>
int ForEachInput(const std::vector<std::string>& inputs, One one) {
    std::uint32_t firstFailure = 0;
    for (const auto& input : inputs) {
        const std::uint32_t status = one(input);
        if (status != 0 && firstFailure == 0) firstFailure = status;
    }
    return static_cast<int>(firstFailure);
}

}  // namespace command
