#include "cli/wallpaper_desktop.h"

#include <strings.h>

#include <cstdio>
#include <set>
#include <vector>

#include "cli/child_process.h"
#include "cli/messages.h"

namespace wallpaper {

namespace {

using msg::Tr;

struct DesktopName {
    const char* name;  // as XDG_CURRENT_DESKTOP writes it
    Desktop desktop;
};

// Unity, Budgie and Pantheon, and GNOME's classic sessions, draw the
// background GNOME's way, from GNOME's schema.
constexpr DesktopName kDesktops[] = {
    {"GNOME", Desktop::kGnome},
    {"GNOME-Classic", Desktop::kGnome},
    {"GNOME-Flashback", Desktop::kGnome},
    {"Unity", Desktop::kGnome},
    {"Budgie", Desktop::kGnome},
    {"Pantheon", Desktop::kGnome},
    {"X-Cinnamon", Desktop::kCinnamon},
    {"Cinnamon", Desktop::kCinnamon},
    {"MATE", Desktop::kMate},
    {"KDE", Desktop::kKde},
    {"XFCE", Desktop::kXfce},
    {"LXQt", Desktop::kLxqt},
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// One key of a schema and the value it gets. An optional key that the
// installed schema lacks (an older release's) is left alone.
struct Key {
    const char* name;
    std::string value;
    bool required;
};

// Sets the keys through the gsettings command. The schema and every key are
// looked up first, and each must be writable, so that either all of them
// change or none; each is read back after, because a back end that cannot
// store the value (no session bus for dconf) does not make gsettings fail.
std::string SetThroughGsettings(const char* schema, const std::vector<Key>& keys) {
    const child::Result list = child::Run({"gsettings", "list-keys", schema});
    if (!list.ran) return list.problem;
    if (!list.Succeeded())
        return msg::Format(Tr("the settings schema %s is not installed"), schema);
    const std::vector<std::string> known = Lines(list.out);
    const std::set<std::string> present(known.begin(), known.end());
    std::vector<const Key*> wanted;
    for (const Key& key : keys) {
        if (present.count(key.name)) {
            wanted.push_back(&key);
        } else if (key.required) {
            return msg::Format(Tr("the settings schema %s has no key %s"), schema, key.name);
        }
    }
    for (const Key* key : wanted) {
        const child::Result writable = child::Run({"gsettings", "writable", schema, key->name});
        if (!writable.Succeeded()) return writable.problem;
        if (Trimmed(writable.out) != "true")
            return msg::Format(Tr("the setting %s %s is locked"), schema, key->name);
    }
    for (const Key* key : wanted) {
        const child::Result set =
            child::Run({"gsettings", "set", schema, key->name, GVariantString(key->value)});
        if (!set.Succeeded()) return set.problem;
    }
    for (const Key* key : wanted) {
        const child::Result get = child::Run({"gsettings", "get", schema, key->name});
        if (!get.Succeeded()) return get.problem;
        if (Trimmed(get.out) != GVariantString(key->value)) {
            return msg::Format(Tr("the setting %s %s did not keep its new value (it reads %s)"),
                               schema, key->name, Trimmed(get.out).c_str());
        }
    }
    return {};
}

// Xfce keeps one picture for each monitor and workspace, in properties
// /backdrop/screenN/MONITOR/workspaceN/last-image that its desktop makes as
// it finds monitors; every one of them gets the picture.
std::string SetForXfce(const std::string& path) {
    const char* const channel = "xfce4-desktop";
    const child::Result list = child::Run({"xfconf-query", "-c", channel, "-l"});
    if (!list.Succeeded()) return list.problem;
    std::vector<std::string> properties;
    const std::string suffix = "/last-image";
    for (const std::string& line : Lines(list.out)) {
        const std::string p = Trimmed(line);
        if (p.compare(0, 9, "/backdrop") == 0 && p.size() > suffix.size() &&
            p.compare(p.size() - suffix.size(), suffix.size(), suffix) == 0) {
            properties.push_back(p);
        }
    }
    if (properties.empty()) {
        return msg::Format(Tr("the channel %s has no /backdrop/.../last-image property"), channel);
    }
    for (const std::string& p : properties) {
        const child::Result set = child::Run({"xfconf-query", "-c", channel, "-p", p, "-s", path});
        if (!set.Succeeded()) return set.problem;
    }
    return {};
}

}  // namespace

DesktopChoice ChooseDesktop(const char* xdgCurrentDesktop) {
    DesktopChoice choice;
    const std::string list = xdgCurrentDesktop ? xdgCurrentDesktop : "";
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string entry = list.substr(start, end - start);
        for (const DesktopName& d : kDesktops) {
            if (strcasecmp(entry.c_str(), d.name) == 0) {
                choice.desktop = d.desktop;
                choice.name = entry;
                return choice;
            }
        }
        start = end + 1;
    }
    choice.name = list;
    return choice;
}

std::string FileUri(const std::string& absolutePath) {
    std::string uri = "file://";
    for (const char c : absolutePath) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", u);
            uri += escaped;
        }
    }
    return uri;
}

std::string GVariantString(const std::string& text) {
    // GLib's own printing: the quote that the text lacks, escapes for
    // control characters, everything else as it is.
    const char quote = text.find('\'') == std::string::npos ? '\'' : '"';
    std::string out(1, quote);
    for (const char c : text) {
        static const char kControls[] = "\a\b\f\n\r\t\v";
        static const char kLetters[] = "abfnrtv";
        const auto u = static_cast<unsigned char>(c);
        if (c == quote || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            const char* known = u != 0 ? std::char_traits<char>::find(kControls, 7, c) : nullptr;
            char escaped[8];
            if (known) {
                std::snprintf(escaped, sizeof escaped, "\\%c", kLetters[known - kControls]);
            } else {
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            }
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + quote;
}

std::string SetWallpaper(Desktop desktop, const std::string& absolutePath) {
    const std::string uri = FileUri(absolutePath);
    // The picture has the screen's size, so "zoom" shows it pixel for pixel;
    // it also undoes a setting of "none", which would show no picture.
    switch (desktop) {
        case Desktop::kGnome:
            return SetThroughGsettings("org.gnome.desktop.background",
                                       {{"picture-uri", uri, true},
                                        {"picture-uri-dark", uri, false},
                                        {"picture-options", "zoom", false}});
        case Desktop::kCinnamon:
            return SetThroughGsettings(
                "org.cinnamon.desktop.background",
                {{"picture-uri", uri, true}, {"picture-options", "zoom", false}});
        case Desktop::kMate:
            return SetThroughGsettings(
                "org.mate.background",
                {{"picture-filename", absolutePath, true}, {"picture-options", "zoom", false}});
        case Desktop::kKde:
            return child::Run({"plasma-apply-wallpaperimage", absolutePath}).problem;
        case Desktop::kXfce:
            return SetForXfce(absolutePath);
        case Desktop::kLxqt:
            return child::Run({"pcmanfm-qt", "--set-wallpaper", absolutePath}).problem;
        case Desktop::kUnknown:
            break;
    }
    return Tr("tavrel does not know this desktop");
}

}  // namespace wallpaper
