// Setting a picture as the running desktop's wallpaper, each desktop the way
// it keeps its own: GSettings through the gsettings command (GNOME and the
// desktops built on it, Cinnamon, MATE) or the desktop's own command (KDE
// Plasma, Xfce, LXQt).
#pragma once

#include <string>

namespace wallpaper {

enum class Desktop { kUnknown, kGnome, kCinnamon, kMate, kKde, kXfce, kLxqt };

struct DesktopChoice {
    Desktop desktop = Desktop::kUnknown;
    // The entry that chose it, as written ("GNOME", "X-Cinnamon"); for an
    // unknown desktop the whole variable, "" when it is unset or empty.
    std::string name;
};

// The first entry of XDG_CURRENT_DESKTOP's colon-separated list that is a
// desktop tavrel knows, in any case ("ubuntu:GNOME" is GNOME).
DesktopChoice ChooseDesktop(const char* xdgCurrentDesktop);

// "file://" and the absolute path, with every byte but letters, digits,
// "-._~" and "/" percent-encoded.
std::string FileUri(const std::string& absolutePath);

// A string as GSettings prints it (GVariant text): in single quotes, or in
// double quotes when it holds one, with the quote and backslash escaped.
std::string GVariantString(const std::string& text);

// Sets the picture at `absolutePath` as the wallpaper of `desktop` (not
// kUnknown). "" when it was set, else why not, in the user's language.
std::string SetWallpaper(Desktop desktop, const std::string& absolutePath);

}  // namespace wallpaper
