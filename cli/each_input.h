// Every command runs its inputs through here: with several inputs the rest
// are still done after a failure, and no output may destroy an input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace command {

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
