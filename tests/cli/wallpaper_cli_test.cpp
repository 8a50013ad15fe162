// tavrel wallpaper as a user runs it, in an environment of the test's own: a
// home folder, X servers at fixed sizes, GSettings in its keyfile back end
// with schemas the test compiles, and stand-ins for the desktops' commands
// that record how they were called. No real desktop is touched.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/wallpaper_desktop.h"
#include "cli/wallpaper_screen.h"
#include "gtest/gtest.h"
#include "tests/cli/cli_runner.h"
#include "tests/engine/test_support.h"
#include "tests/formats/png_test_codec.h"

namespace {

using test::CliRun;
using test::ShellQuoted;
using test::Slurp;

bool Installed(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Here() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : ".";
}

// A home with a quote and a space in its path: nothing may pass through a
// shell or a GVariant text unquoted.
std::string Home() { return Here() + "/work/it's home"; }
std::string Folder() { return Home() + "/.local/share/backgrounds/tavrel"; }

// The same pixels, decoded by the tests' own codec.
void ExpectSamePixels(const std::string& got, const std::string& want) {
    pngtest::Image a, b;
    std::string error;
    ASSERT_TRUE(pngtest::Decode(test::ReadBytes(got), &a, &error)) << got << ": " << error;
    ASSERT_TRUE(pngtest::Decode(test::ReadBytes(want), &b, &error)) << want << ": " << error;
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.bitDepth, b.bitDepth);
    EXPECT_EQ(a.colorType, b.colorType);
    EXPECT_TRUE(a.samples == b.samples) << got << " and " << want << " differ";
}

// Schemas with the keys tavrel sets, as the desktops' own define them.
const char kSchemas[] = R"(<schemalist>
  <schema id="org.gnome.desktop.background" path="/org/gnome/desktop/background/">
    <key name="picture-uri" type="s"><default>''</default></key>
    <key name="picture-uri-dark" type="s"><default>''</default></key>
    <key name="picture-options" type="s"><default>'none'</default></key>
  </schema>
  <schema id="org.cinnamon.desktop.background" path="/org/cinnamon/desktop/background/">
    <key name="picture-uri" type="s"><default>''</default></key>
    <key name="picture-options" type="s"><default>'none'</default></key>
  </schema>
  <schema id="org.mate.background" path="/org/mate/desktop/background/">
    <key name="picture-filename" type="s"><default>''</default></key>
    <key name="picture-options" type="s"><default>'none'</default></key>
  </schema>
</schemalist>
)";

// Stand-ins for the desktops' commands: each call is one line of
// work/calls.log, the program's name and each argument in brackets.
const char kRecorder[] = R"(#!/bin/sh
line="${0##*/}"
for a; do line="$line [$a]"; done
printf '%s\n' "$line" >>"$CALLS"
)";

class WallpaperCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::system("rm -rf work && mkdir -p work/bin work/schemas/glib-2.0/schemas");
        std::mt19937 rng(19);
        test::WritePicture("work/pic.rq6", test::RandomPicture(64, 48, rng));
        std::string recorder = kRecorder;
        // It leaves a process behind that holds its output, as one that
        // starts a daemon does: tavrel must not wait for that one.
        AddProgram("plasma-apply-wallpaperimage", recorder + "(sleep 5) &\n");
        AddProgram("pcmanfm-qt", recorder);
        AddProgram("xfconf-query", recorder +
                                       "[ \"$*\" = '-c xfce4-desktop -l' ] && printf '%s\\n' "
                                       "/backdrop/screen0/monitorHDMI-1/workspace0/last-image "
                                       "/backdrop/screen0/monitorHDMI-1/workspace0/image-style "
                                       "/backdrop/screen0/monitoreDP-1/workspace1/last-image "
                                       "/desktop-icons/style\nexit 0\n");
    }

    static void AddProgram(const std::string& name, const std::string& script) {
        const std::string path = "work/bin/" + name;
        test::WriteRaw(path, std::vector<std::uint8_t>(script.begin(), script.end()));
        chmod(path.c_str(), 0755);
    }

    // The home, the schemas in `dataDirs`, the stand-ins (then the system's
    // programs) on PATH, and `more`.
    static std::string Environment(const std::string& more,
                                   const std::string& dataDirs = Here() + "/work/schemas") {
        return "HOME=" + ShellQuoted(Home()) +
               " GSETTINGS_BACKEND=keyfile XDG_DATA_DIRS=" + ShellQuoted(dataDirs) +
               " CALLS=" + ShellQuoted(Here() + "/work/calls.log") +
               " PATH=" + ShellQuoted(Here() + "/work/bin:/usr/bin:/bin") + " " + more;
    }

    static std::string Get(const std::string& environment, const std::string& schemaAndKey) {
        std::system(
            ("env -i " + environment + " gsettings get " + schemaAndKey + " >work/get.out 2>&1")
                .c_str());
        return Slurp("work/get.out");
    }
};

TEST_F(WallpaperCli, NoSetWritesExactlyTheCoverConversionAndChangesNothing) {
    const struct {
        const char* options;
        const char* size;
    } cases[] = {{"--size 40x30", "40x30"},
                 {"--size 41x17 --mode 48 --contrast 200", "41x17"},
                 {"--size=16x45 --mode 8 --exponent 1.7", "16x45"}};
    for (const auto& c : cases) {
        const CliRun r =
            test::TavrelIn(Environment("XDG_CURRENT_DESKTOP=KDE"),
                           std::string("wallpaper work/pic.rq6 --no-set ") + c.options);
        ASSERT_EQ(r.exit, 0) << c.options << ": " << r.err;
        const std::string file = Folder() + "/pic-" + c.size + ".png";
        EXPECT_EQ(r.out, file + "\n");
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(test::Tavrel(std::string("convert work/pic.rq6 --fit cover --format png ") +
                               c.options + " -o work/convert.png")
                      .exit,
                  0);
        ExpectSamePixels(file, "work/convert.png");
    }
    EXPECT_FALSE(test::FileExists("work/calls.log")) << Slurp("work/calls.log");
    // XDG_DATA_HOME when absolute; a relative one is not taken.
    const CliRun data = test::TavrelIn(Environment("XDG_DATA_HOME=" + Here() + "/work/data"),
                                       "wallpaper --no-set --size 8x8 work/pic.rq6");
    EXPECT_EQ(data.out, Here() + "/work/data/backgrounds/tavrel/pic-8x8.png\n") << data.err;
    const CliRun relative = test::TavrelIn(Environment("XDG_DATA_HOME=work/data"),
                                           "wallpaper --no-set --size 8x8 work/pic.rq6");
    EXPECT_EQ(relative.out, Folder() + "/pic-8x8.png\n") << relative.err;
    // A picture that is the very file its wallpaper would replace (reached
    // through a link) is refused and keeps its bytes.
    const std::string own = Folder() + "/own-8x8.png";
    std::system(("cp work/pic.rq6 " + ShellQuoted(own) + " && ln -sf " + ShellQuoted(own) +
                 " work/own.rq6").c_str());
    const CliRun refused =
        test::TavrelIn(Environment(""), "wallpaper --no-set --size 8x8 work/own.rq6");
    EXPECT_EQ(refused.exit, 64);
    EXPECT_EQ(refused.err, "tavrel: " + own +
                               " is the same file as the input work/own.rq6; choose another "
                               "output name\n");
    EXPECT_TRUE(test::ReadBytes(own) == test::ReadBytes("work/pic.rq6"));
}

// An X server of the test's own at a fixed size, for as long as it lives.
class VirtualScreen {
public:
    VirtualScreen(std::uint32_t width, std::uint32_t height, const std::string& options) {
        std::remove("work/display");
        const std::string size = std::to_string(width) + "x" + std::to_string(height) + "x24";
        std::system(("Xvfb -displayfd 3 -screen 0 " + size + " " + options +
                     " -nolisten tcp 3>work/display 2>work/xvfb.log & echo $! >work/xvfb.pid")
                        .c_str());
        pid_ = std::atoi(Slurp("work/xvfb.pid").c_str());
        // Xvfb writes its display's number once it takes connections.
        for (int i = 0; i < 200 && display_.empty(); ++i) {
            const std::string number = Slurp("work/display");
            if (number.find('\n') != std::string::npos) {
                display_ = ":" + number.substr(0, number.find('\n'));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    }
    ~VirtualScreen() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    const std::string& Display() const { return display_; }

private:
    int pid_ = 0;
    std::string display_;
};

TEST_F(WallpaperCli, TheSizeIsTheXScreensAndTheCropFillsIt) {
    if (!Installed("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (scripts/deps.sh test)";
    // Without RandR, the X screen's own size.
    const struct {
        std::uint32_t w, h;
        const char* options;
    } screens[] = {{2560, 1440, ""}, {1366, 768, ""}, {1280, 1024, "-extension RANDR"}};
    for (const auto& [w, h, options] : screens) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const VirtualScreen screen(w, h, options);
        ASSERT_FALSE(screen.Display().empty()) << Slurp("work/xvfb.log");
        const CliRun r = test::TavrelIn(Environment("DISPLAY=" + screen.Display()),
                                        "wallpaper --no-set work/pic.rq6");
        ASSERT_EQ(r.exit, 0) << r.err;
        EXPECT_EQ(r.out, Folder() + "/pic-" + size + ".png\n");
        ASSERT_EQ(test::Tavrel("convert work/pic.rq6 --fit cover --format png --size " + size +
                               " -o work/convert.png")
                      .exit,
                  0);
        ExpectSamePixels(Folder() + "/pic-" + size + ".png", "work/convert.png");
    }
}

TEST(WallpaperScreen, PrimaryElseLargestElseTheWholeScreen) {
    using wallpaper::ChooseSize;
    const auto size = [](const wallpaper::ScreenSize& s) {
        return std::to_string(s.width) + "x" + std::to_string(s.height);
    };
    EXPECT_EQ(size(ChooseSize({{false, 1920, 1080}, {true, 1280, 1024}, {false, 3840, 2160}}, 7040,
                              2160)),
              "1280x1024");
    EXPECT_EQ(size(ChooseSize({{false, 1920, 1080}, {false, 1440, 2560}, {false, 2560, 1440}}, 5920,
                              2560)),
              "1440x2560")
        << "the first of equal areas";
    EXPECT_EQ(size(ChooseSize({}, 1024, 768)), "1024x768");
}

TEST(WallpaperDesktop, TheFirstKnownEntryOfXdgCurrentDesktop) {
    const struct {
        const char* variable;
        wallpaper::Desktop desktop;
        const char* name;
    } cases[] = {
        {"ubuntu:GNOME", wallpaper::Desktop::kGnome, "GNOME"},
        {"Budgie:GNOME", wallpaper::Desktop::kGnome, "Budgie"},
        {"X-Cinnamon", wallpaper::Desktop::kCinnamon, "X-Cinnamon"},
        {"mate", wallpaper::Desktop::kMate, "mate"},
        {"KDE", wallpaper::Desktop::kKde, "KDE"},
        {"XFCE", wallpaper::Desktop::kXfce, "XFCE"},
        {"LXQt:", wallpaper::Desktop::kLxqt, "LXQt"},
        {"Hyprland:wlroots", wallpaper::Desktop::kUnknown, "Hyprland:wlroots"},
        {"", wallpaper::Desktop::kUnknown, ""},
        {nullptr, wallpaper::Desktop::kUnknown, ""},
    };
    for (const auto& c : cases) {
        const wallpaper::DesktopChoice choice = wallpaper::ChooseDesktop(c.variable);
        EXPECT_EQ(choice.desktop, c.desktop) << (c.variable ? c.variable : "(unset)");
        EXPECT_EQ(choice.name, c.name);
    }
}

TEST_F(WallpaperCli, GsettingsDesktopsGetThePicture) {
    if (!Installed("gsettings") || !Installed("glib-compile-schemas"))
        GTEST_SKIP() << "gsettings is not installed (scripts/deps.sh test: libglib2.0-bin)";
    test::WriteRaw("work/schemas/glib-2.0/schemas/test.gschema.xml",
                   std::vector<std::uint8_t>(kSchemas, kSchemas + sizeof kSchemas - 1));
    ASSERT_EQ(std::system("glib-compile-schemas work/schemas/glib-2.0/schemas"), 0);
    const std::string file = Folder() + "/pic-40x30.png";
    // Percent-encoded by hand: the quote is %27, the space %20.
    const std::string uri = "'file://" + Here() +
                            "/work/it%27s%20home/.local/share/backgrounds/tavrel/pic-40x30.png'\n";
    struct Expected {
        const char* key;
        std::string value;
    };
    const struct {
        const char* desktop;
        std::string dataDirs;
        std::vector<Expected> keys;
    } cases[] = {
        {"ubuntu:GNOME",
         Here() + "/work/schemas",
         {{"org.gnome.desktop.background picture-uri", uri},
          {"org.gnome.desktop.background picture-uri-dark", uri},
          {"org.gnome.desktop.background picture-options", "'zoom'\n"}}},
        {"X-Cinnamon",
         Here() + "/work/schemas",
         {{"org.cinnamon.desktop.background picture-uri", uri},
          {"org.cinnamon.desktop.background picture-options", "'zoom'\n"}}},
        // GLib prints a string with a quote in double quotes.
        {"MATE",
         Here() + "/work/schemas",
         {{"org.mate.background picture-filename", "\"" + file + "\"\n"},
          {"org.mate.background picture-options", "'zoom'\n"}}},
        // GNOME's own schema, where it is installed.
        {"GNOME", "/usr/share", {{"org.gnome.desktop.background picture-uri", uri}}},
    };
    for (const auto& c : cases) {
        if (c.dataDirs == "/usr/share" &&
            !test::FileExists(
                "/usr/share/glib-2.0/schemas/org.gnome.desktop.background.gschema.xml"))
            continue;
        std::system("rm -rf work/it*/.config");
        const std::string environment =
            Environment(std::string("XDG_CURRENT_DESKTOP=") + c.desktop, c.dataDirs);
        const CliRun r = test::TavrelIn(environment, "wallpaper --size 40x30 work/pic.rq6");
        EXPECT_EQ(r.exit, 0) << c.desktop << ": " << r.err;
        EXPECT_EQ(r.out, file + "\n");
        for (const Expected& e : c.keys)
            EXPECT_EQ(Get(environment, e.key), e.value) << c.desktop << ": " << e.key;
    }
}

TEST_F(WallpaperCli, CommandDesktopsAreCalledWithTheFile) {
    const std::string file = Folder() + "/pic-40x30.png";
    const struct {
        const char* desktop;
        std::vector<std::string> calls;
    } cases[] = {
        {"KDE", {"plasma-apply-wallpaperimage [" + file + "]"}},
        {"LXQt", {"pcmanfm-qt [--set-wallpaper] [" + file + "]"}},
        {"XFCE",
         {"xfconf-query [-c] [xfce4-desktop] [-l]",
          "xfconf-query [-c] [xfce4-desktop] [-p] "
          "[/backdrop/screen0/monitorHDMI-1/workspace0/last-image] [-s] [" +
              file + "]",
          "xfconf-query [-c] [xfce4-desktop] [-p] "
          "[/backdrop/screen0/monitoreDP-1/workspace1/last-image] [-s] [" +
              file + "]"}},
    };
    for (const auto& c : cases) {
        std::remove("work/calls.log");
        const auto start = std::chrono::steady_clock::now();
        const CliRun r =
            test::TavrelIn(Environment(std::string("XDG_CURRENT_DESKTOP=") + c.desktop),
                           "wallpaper --size 40x30 work/pic.rq6");
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 4000)
            << c.desktop;
        EXPECT_EQ(r.exit, 0) << c.desktop << ": " << r.err;
        EXPECT_EQ(r.out, file + "\n");
        std::string calls;
        for (const std::string& line : c.calls) calls += line + "\n";
        EXPECT_EQ(Slurp("work/calls.log"), calls) << c.desktop;
    }
}

// Whatever keeps the wallpaper from being set, the picture is there, its path
// on stdout, and one line names the file, the desktop and why.
TEST_F(WallpaperCli, WhenTheWallpaperCannotBeSetThePictureIsStillWritten) {
    AddProgram("plasma-apply-wallpaperimage", "#!/bin/sh\necho 'no plasmashell' >&2\nexit 3\n");
    AddProgram("xfconf-query", "#!/bin/sh\nexit 0\n");  // no backdrop properties
    const std::string file = Folder() + "/pic-40x30.png";
    const std::string onlyStandIns = "PATH=" + ShellQuoted(Here() + "/work/bin");
    const struct {
        std::string environment;
        std::string reason;
    } cases[] = {
        {"XDG_CURRENT_DESKTOP=Enlightenment",
         "not set as the wallpaper: tavrel cannot set it for the desktop Enlightenment"},
        {"", "not set as the wallpaper: XDG_CURRENT_DESKTOP names no desktop"},
        {"XDG_CURRENT_DESKTOP=KDE",
         "not set as the wallpaper of KDE: plasma-apply-wallpaperimage failed with exit status "
         "3: no plasmashell"},
        {"XDG_CURRENT_DESKTOP=XFCE",
         "not set as the wallpaper of XFCE: the channel xfce4-desktop has no "
         "/backdrop/.../last-image property"},
        {"XDG_CURRENT_DESKTOP=MATE " + onlyStandIns,
         "not set as the wallpaper of MATE: gsettings is not installed (not found on PATH)"},
        {"XDG_CURRENT_DESKTOP=LXQt " + onlyStandIns + "/none",
         "not set as the wallpaper of LXQt: pcmanfm-qt is not installed (not found on PATH)"},
        // No schemas at all.
        {"XDG_CURRENT_DESKTOP=MATE XDG_DATA_DIRS=" + ShellQuoted(Here() + "/work/none"),
         "not set as the wallpaper of MATE: the settings schema org.mate.background is not "
         "installed"},
    };
    for (const auto& c : cases) {
        if (c.environment.find("XDG_DATA_DIRS") != std::string::npos && !Installed("gsettings"))
            continue;
        std::system("rm -rf work/it*");
        const CliRun r =
            test::TavrelIn(Environment(c.environment), "wallpaper --size 40x30 work/pic.rq6");
        EXPECT_EQ(r.exit, 69) << c.environment;
        EXPECT_EQ(r.out, file + "\n") << c.environment;
        EXPECT_EQ(r.err, "tavrel: " + file + ": " + c.reason + "\n") << c.environment;
        EXPECT_TRUE(test::FileExists(file)) << c.environment;
    }
}

TEST_F(WallpaperCli, NoScreenSizeOrNoFolderWritesNothing) {
    const struct {
        std::string environment, size;
        int exit;
        std::string err;
    } cases[] = {
        {"", "", 64,
         "tavrel: cannot find the screen's size: no X display (DISPLAY is not set); give --size "
         "WIDTHxHEIGHT\n"},
        {"WAYLAND_DISPLAY=wayland-0", "", 64,
         "tavrel: cannot find the screen's size: a Wayland session without X11 (DISPLAY is not "
         "set); give --size WIDTHxHEIGHT\n"},
        {"DISPLAY=:65000", "", 64,
         "tavrel: cannot find the screen's size: cannot open the X display :65000; give --size "
         "WIDTHxHEIGHT\n"},
        // A file where a folder must go: not even root can make that folder.
        {"XDG_DATA_HOME=" + Here() + "/work/pic.rq6/data", "--size 8x8", 3,
         "tavrel: cannot create " + Here() + "/work/pic.rq6/data: Not a directory\n"},
    };
    for (const auto& c : cases) {
        const CliRun r = test::TavrelIn(Environment("XDG_CURRENT_DESKTOP=KDE " + c.environment),
                                        "wallpaper work/pic.rq6 " + c.size);
        EXPECT_EQ(r.exit, c.exit) << c.environment;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(access(Home().c_str(), F_OK), 0) << c.environment << ": no folder made";
        EXPECT_FALSE(test::FileExists("work/calls.log")) << c.environment;
    }
    if (geteuid() == 0) return;  // root writes into read-only folders
    std::system("mkdir -p work/ro && chmod 0555 work/ro");
    const CliRun r = test::TavrelIn(Environment("XDG_DATA_HOME=" + Here() + "/work/ro"),
                                    "wallpaper work/pic.rq6 --size 8x8");
    std::system("chmod 0755 work/ro");
    EXPECT_EQ(r.exit, 3);
    EXPECT_EQ(r.err,
              "tavrel: cannot create " + Here() + "/work/ro/backgrounds: Permission denied\n");
}

}  // namespace
