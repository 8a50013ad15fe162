// Which drives may hold the pictures, and the About box's line of the notice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/records.h"

// Fills the table from the type of each drive's root ("Z:\" down to "A:\"), as
// the system's drive-type query numbers them. Network drives (4), CD-ROM
// drives (5) and RAM disks (6) may hold the pictures; so may a removable (2)
// or fixed (3) drive for which `holdsDisc` finds a copy of the disc. The
// lowest such letter becomes the selected drive, kNoDrive when there is none.
void ScanDrives(const std::function<unsigned(const std::string& root)>& driveType,
                const std::function<bool(const std::string& root)>& holdsDisc, DriveTable* table);

// The drive index chosen in the drive dialog: the first checked radio button,
// kNoDrive when none is checked.
std::uint8_t FirstChecked(const bool checked[kDriveCount]);

// The drive dialog's "決定" with drive `checked` (kNoDrive: none): a drive
// becomes the source of the pictures in place of a chosen folder; none checked
// keeps a chosen folder.
void ChooseDrive(std::uint8_t checked, DriveTable* table, PictureSource* source);

// The notice up to its first line break (carriage return or line feed).
std::string FirstLine(const char* notice);
