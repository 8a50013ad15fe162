#include "ui/drives.h"

#include <cstring>

void ScanDrives(const std::function<unsigned(const std::string& root)>& driveType,
                DriveTable* table) {
    table->selected = kNoDrive;
    std::string root = "Z:\\";
    for (int i = kDriveCount - 1; i >= 0; --i, --root[0]) {
        // Bit 2 is set for exactly the remote, CD-ROM and RAM disk types.
        if ((driveType(root) & 4) != 0) {
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

std::string FirstLine(const char* notice) {
    return std::string(notice, std::strcspn(notice, "\r\n"));
}
