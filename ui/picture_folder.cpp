#include "ui/picture_folder.h"

#include <optional>
#include <vector>

#include "platform/folder.h"

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool IsSeparator(char c) { return c == '/' || c == kSeparator; }

// The entry of `folder` named `name` in any case, as it is spelt there, if
// it is of the kind asked for.
std::optional<std::string> FindEntry(const std::string& folder, const std::string& name,
                                     platform::PathKind kind) {
    std::vector<std::string> names;
    if (!platform::ListFolder(folder.c_str(), &names)) return std::nullopt;
    for (const std::string& entry : names) {
        if (!SameIgnoringCase(entry, name)) continue;
        const std::string path = JoinPath(folder, entry);
        if (platform::KindOf(path.c_str()) == kind) return path;
    }
    return std::nullopt;
}

std::optional<std::string> ExtendsOf(const std::string& folder) {
    return FindEntry(folder, disc::kPictureFolder, platform::PathKind::kFolder);
}

std::optional<std::string> PictureIn(const std::string& folder, int number) {
    return FindEntry(folder, disc::PictureFileName(number), platform::PathKind::kFile);
}

}  // namespace

int PictureNumberOf(const std::string& fileName) {
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        if (SameIgnoringCase(fileName, disc::PictureFileName(n))) return n;
    }
    return 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || IsSeparator(folder.back())) return folder + name;
    return folder + kSeparator + name;
}

bool HoldsAPicture(const std::string& folder) {
    std::vector<std::string> names;
    if (!platform::ListFolder(folder.c_str(), &names)) return false;
    for (const std::string& name : names) {
        // A folder that happens to carry a picture's name holds no picture.
        if (PictureNumberOf(name) != 0 &&
            platform::KindOf(JoinPath(folder, name).c_str()) == platform::PathKind::kFile) {
            return true;
        }
    }
    return false;
}

bool FolderHoldsPictures(const std::string& folder) {
    const std::optional<std::string> extends = ExtendsOf(folder);
    return (extends && HoldsAPicture(*extends)) || HoldsAPicture(folder);
}

bool RootHoldsDisc(const std::string& root) {
    const std::optional<std::string> extends = ExtendsOf(root);
    return extends && HoldsAPicture(*extends);
}

std::string FolderPicturePath(const std::string& folder, int number) {
    const std::optional<std::string> extends = ExtendsOf(folder);
    if (extends) {
        if (auto picture = PictureIn(*extends, number)) return *picture;
    }
    if (auto picture = PictureIn(folder, number)) return *picture;
    return JoinPath(extends ? *extends : folder, disc::PictureFileName(number));
}

OpenedPath OpenPath(const std::string& path) {
    OpenedPath opened;
    switch (platform::KindOf(path.c_str())) {
        case platform::PathKind::kFolder:
            opened.folder = path;
            break;
        case platform::PathKind::kFile: {
            std::size_t cut = path.find_last_of(kSeparator == '/' ? "/" : "/\\:");
            const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
            const std::size_t extension = sizeof disc::kPictureExtension - 1;
            if (name.size() <= extension ||
                !SameIgnoringCase(name.substr(name.size() - extension), disc::kPictureExtension)) {
                return opened;
            }
            opened.picture = PictureNumberOf(name);
            // The root keeps its separator: "D:\" and "/", not "D:" and "".
            if (cut != std::string::npos && (cut == 0 || path[cut] == ':' || path[cut - 1] == ':'))
                ++cut;
            opened.folder = cut == std::string::npos ? "." : path.substr(0, cut);
            break;
        }
        case platform::PathKind::kMissing:
            return opened;
    }
    // A picture file needs no search: its folder holds it.
    opened.accepted = opened.picture != 0 || FolderHoldsPictures(opened.folder);
    if (!opened.accepted) opened = OpenedPath{};
    return opened;
}

std::string ArgumentPath(std::string argument) {
    if (!argument.empty() && argument.back() == '"') argument.back() = '\\';
    return argument;
}
