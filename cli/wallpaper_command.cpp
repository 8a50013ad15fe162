#include "cli/wallpaper_command.h"

#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/each_input.h"
#include "cli/failure_message.h"
#include "cli/output_file.h"
#include "cli/messages.h"
#include "cli/output_naming.h"
#include "cli/wallpaper_desktop.h"
#include "cli/wallpaper_screen.h"
#include "engine/conversion_status.h"

namespace wallpaper {

namespace {

using msg::Tr;

bool IsAbsolute(const char* path) { return path && path[0] == '/'; }

// Makes the folder and those above it that are missing, readable by the user
// alone as the base directory rules ask for folders made there. On failure
// reports the folder that could not be made, with the system's reason.
bool MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        // A file in the way shows as ENOTDIR at the next part, or as the
        // picture's own failure to be created when it is the last.
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            command::ReportFailure(part, kStatusOutputNotCreated, msg::SystemReason(errno));
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

void SayNotSet(const std::string& why) { msg::Say(why); }

}  // namespace

std::string WallpaperFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (IsAbsolute(data)) return std::string(data) + "/backgrounds/tavrel";
    const char* home = std::getenv("HOME");
    if (!IsAbsolute(home)) {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!IsAbsolute(home)) return {};
    return std::string(home) + "/.local/share/backgrounds/tavrel";
}

int Run(const cli::Request& request, Converter convert) {
    const std::string& input = request.inputs.at(0);
    std::uint32_t width = request.width;
    std::uint32_t height = request.height;
    if (width == 0) {
        const ScreenSize screen = FindScreenSize();
        if (!screen.problem.empty()) {
            msg::Say(msg::Format(Tr("cannot find the screen's size: %s; give --size WIDTHxHEIGHT"),
                                 screen.problem.c_str()));
            return cli::kExitUsage;
        }
        width = screen.width;
        height = screen.height;
    }

    const std::string folder = WallpaperFolder();
    if (folder.empty()) {
        msg::Say(Tr("no folder for the wallpaper: neither XDG_DATA_HOME nor HOME names one"));
        return static_cast<int>(kStatusOutputNotCreated);
    }
    if (!MakeFolders(folder)) return static_cast<int>(kStatusOutputNotCreated);

    // Exactly what `convert --fit cover --format png` makes of the picture.
    cli::Request conversion = request;
    conversion.output = folder + "/" + cli::BaseName(input) + "-" + std::to_string(width) + "x" +
                        std::to_string(height) + ".png";
    conversion.width = width;
    conversion.height = height;
    conversion.fit = cli::Fit::kCover;
    conversion.format = cli::Format::kPng;
    // Through the loop every command takes, which refuses an output that is
    // the picture itself (a link in the data folder, say).
    if (const int status = command::ForEachInput(
            request.inputs, [&](const std::string&) { return conversion.output; },
            [&](const std::string& in) { return convert(conversion, in); })) {
        return status;
    }
    const std::string& file = conversion.output;
    std::printf("%s\n", file.c_str());
    std::fflush(stdout);  // before anything the desktop's commands print
    if (request.noSet) return 0;

    const DesktopChoice choice = ChooseDesktop(std::getenv("XDG_CURRENT_DESKTOP"));
    if (choice.desktop == Desktop::kUnknown) {
        SayNotSet(choice.name.empty()
                      ? msg::Format(Tr("%s: not set as the wallpaper: XDG_CURRENT_DESKTOP names "
                                       "no desktop"),
                                    file.c_str())
                      : msg::Format(Tr("%s: not set as the wallpaper: tavrel cannot set it for "
                                       "the desktop %s"),
                                    file.c_str(), choice.name.c_str()));
        return kExitNotSet;
    }
    const std::string why = SetWallpaper(choice.desktop, file);
    if (why.empty()) return 0;
    SayNotSet(msg::Format(Tr("%s: not set as the wallpaper of %s: %s"), file.c_str(),
                          choice.name.c_str(), why.c_str()));
    return kExitNotSet;
}

}  // namespace wallpaper
