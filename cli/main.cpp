// tavrel: the conversion engine on the command line.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/archive_commands.h"
#include "cli/convert_command.h"
#include "cli/each_input.h"
#include "cli/failure_message.h"
#include "cli/help_text.h"
#include "cli/info_command.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/wallpaper_command.h"
#include "engine/disc_pictures.h"
#include "platform/file_io.h"
#include "samples/sample_disc.h"

static_assert(command::kStatusOutputIsInput == cli::kExitUsage,
              "an output named as an input is a usage error");

namespace {

int RunSampleDisc(const std::string& dir) {
    rq6::SampleDiscFailure failure;
    if (!rq6::WriteSampleDisc(dir, &failure)) {
        command::ReportFailure(failure.path, failure.status,
                               failure.error ? msg::SystemReason(failure.error.value()) : "");
        return static_cast<int>(failure.status);
    }
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        std::printf("%s/%s/%s\n", dir.c_str(), disc::kPictureFolder,
                    disc::PictureFileName(n).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    msg::Init();
    const std::vector<std::string> args(argv + 1, argv + argc);
    cli::Request request;
    std::string error;
    if (!cli::Parse(args, &request, &error)) {
        std::fputs((msg::Line(error) + cli::TryHelpLine(request.command) + "\n").c_str(), stderr);
        return cli::kExitUsage;
    }
    if (request.help) {
        std::fputs(cli::HelpText(request.command).c_str(), stdout);
        return 0;
    }
    if (request.output == cli::kStandardStream) {
        // A picture on a terminal is only noise, and may set it in a state
        // the user has to repair.
        if (platform::IsTerminal(platform::StandardOutput())) {
            msg::Say(msg::Tr("standard output is a terminal; send the picture to a file or a pipe"));
            return cli::kExitUsage;
        }
        // A reader that goes away early is a failed write, reported with its
        // reason, rather than a silent end.
        std::signal(SIGPIPE, SIG_IGN);
    }
    switch (request.command) {
        case cli::Command::kVersion:
            std::fputs(cli::VersionText().c_str(), stdout);
            return 0;
        case cli::Command::kConvert:
        case cli::Command::kThumbnail:
            return command::RunConvert(request);
        case cli::Command::kExtract:
            return archive::RunExtract(request);
        case cli::Command::kPack:
            return archive::RunPack(request);
        case cli::Command::kInfo:
            return command::RunInfo(request.inputs[0]);
        case cli::Command::kSampleDisc:
            return RunSampleDisc(request.discDir);
        case cli::Command::kWallpaper:
            return wallpaper::Run(request, command::ConvertOne);
        case cli::Command::kNone:
            break;
    }
    return cli::kExitUsage;
}
