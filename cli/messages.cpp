#include "cli/messages.h"

#include <dirent.h>
#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <vector>

#ifndef TAVREL_LOCALEDIR
#error "TAVREL_LOCALEDIR must name the installed catalogues' directory"
#endif

namespace msg {

namespace {

// True when `dir` holds a catalogue of the tool for some language.
bool HoldsCatalogues(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    bool found = false;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string mo = dir + "/" + e->d_name + "/LC_MESSAGES/" + kDomain + ".mo";
        if (access(mo.c_str(), R_OK) == 0) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

const char* FromCatalogue(const char* english) { return dgettext(kDomain, english); }

// <directory of the running program>/../share/locale, or "" when the
// program cannot be found.
std::string BesideTheProgram() {
    std::vector<char> path(4096);
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return {};
    const std::string exe(path.data(), static_cast<std::size_t>(n));
    const auto slash = exe.find_last_of('/');
    if (slash == std::string::npos) return {};
    return exe.substr(0, slash) + "/../share/locale";
}

}  // namespace

void Init(const std::string& localeDir) {
    // Messages and the character set only: numbers are parsed and printed
    // with a decimal point whatever the language.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    bindtextdomain(kDomain, localeDir.c_str());
    SetTranslator(FromCatalogue);
}

void Init() {
    const std::string beside = BesideTheProgram();
    Init(!beside.empty() && HoldsCatalogues(beside) ? beside : std::string(TAVREL_LOCALEDIR));
}

const char* TrIn(const char* context, const char* english) {
    // gettext keeps a context as "CONTEXT\004MESSAGE"; without a translation
    // the key itself comes back.
    const std::string key = std::string(context) + '\004' + english;
    const char* translated = dgettext(kDomain, key.c_str());
    return translated == key.c_str() || std::strcmp(translated, key.c_str()) == 0 ? english
                                                                                  : translated;
}

void Say(const std::string& text) { std::fputs(Line(text).c_str(), stderr); }

}  // namespace msg
