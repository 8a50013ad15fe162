#include "ui/drives.h"

#include <cstring>

namespace {
constexpr unsigned kDriveRemovable = 2;
constexpr unsigned kDriveFixed = 3;
}  // namespace

void ScanDrives(const std::function<unsigned(const std::string& root)>& driveType,
                const std::function<bool(const std::string& root)>& holdsDisc, DriveTable* table) {
    table->selected = kNoDrive;
    std::string root = "Z:\\";
    for (int i = kDriveCount - 1; i >= 0; --i, --root[0]) {
        const unsigned type = driveType(root);
        // Bit 2 is set for exactly the remote, CD-ROM and RAM disk types. A
        // hard disk or a USB stick counts only with the disc copied onto it:
        // most PCs have hard disks and no disc drive.
        if ((type & 4) != 0 ||
            ((type == kDriveRemovable || type == kDriveFixed) && holdsDisc(root))) {
            table->usable[i] = 1;
            table->selected = static_cast<std::uint8_t>(i);
        } else {
            table->usable[i] = 0;
        }
    }
}

std::uint8_t FirstChecked(const bool checked[kDriveCount]) {
    for (int i = 0; i < kDriveCount; ++i) {
        if (checked[i]) return static_cast<std::uint8_t>(i);
    }
    return kNoDrive;
}

void ChooseDrive(std::uint8_t checked, DriveTable* table, PictureSource* source) {
    if (checked < kDriveCount) {
        table->selected = checked;
        source->folder.clear();
    } else if (source->folder.empty()) {
        table->selected = kNoDrive;
    }
}

std::string FirstLine(const char* notice) {
    return std::string(notice, std::strcspn(notice, "\r\n"));
}
