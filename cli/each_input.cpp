#include "cli/each_input.h"

#include <cstdio>

#include "cli/messages.h"
#include "cli/options.h"
#include "engine/conversion_status.h"
#include "platform/file_io.h"

namespace command {

using cli::kStandardStream;
using msg::Format;
using msg::Tr;

std::uint32_t RefuseOutputThatIsAnInput(const std::string& output,
                                        const std::vector<std::string>& inputs) {
    // Standard input and output are no files of the run that could be lost.
    if (output == kStandardStream) return kStatusOk;
    for (const auto& input : inputs) {
        if (input == kStandardStream || !platform::SameFile(output.c_str(), input.c_str())) continue;
        const std::string why =
            output == input
                ? Format(Tr("%s is the input; choose another output name"), output.c_str())
                : Format(Tr("%s is the same file as the input %s; choose another output name"),
                         output.c_str(), input.c_str());
        msg::Say(why);
        return kStatusOutputIsInput;
    }
    return kStatusOk;
}

}  // namespace command
