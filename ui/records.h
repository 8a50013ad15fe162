// The process-wide records the dialogs share: the user's choices for a run,
// the drives that may hold the pictures and where the pictures come from.
#pragma once

#include <cstdint>
#include <string>

// What the settings dialog hands to the batch run. The batch run rewrites the
// paths and the size in place while it works through the pictures. Paths are
// UTF-8; the digit positions index their bytes.
struct ConversionSettings {
    std::uint8_t imageMask = 0;  // bit n - 6 chooses picture n (6 ... 10)
    std::string inputPath;       // "A:\Extends\Sg0??.rq6", then filled in
    int inputDigitPos = 0;       // index of the units digit ('?') in inputPath
    std::string outputName;      // a name pattern, filled in; or the name chosen per picture
    std::string outputPath;      // last full path chosen in the save dialog
    int outputDigitPos = 0;      // as inputDigitPos; -1: ask for a name per picture
    double exponent = 0.0;
    int width = 0;
    int height = 0;
    int colorMode = 0;
    // Convert the largest centred part of the picture with the output's
    // proportions, instead of making the output 4:3.
    bool cropToAspect = false;
};

inline constexpr int kDriveCount = 26;
inline constexpr std::uint8_t kNoDrive = 26;

struct DriveTable {
    std::int32_t usable[kDriveCount] = {};  // index 0 = A: ... 25 = Z:
    std::uint8_t selected = 0;              // kNoDrive: none
};

// Where the pictures come from: the selected drive of DriveTable, or a folder
// the user chose (a copy of the disc, a USB stick, a disc image's contents).
struct PictureSource {
    std::string folder;  // full path, UTF-8; empty: the selected drive
    // Pictures to check when the settings dialog opens: bit n - 6 for the
    // picture file the program was started with.
    std::uint8_t checkedAtStart = 0;
};

extern ConversionSettings conversionSettings;
extern DriveTable driveTable;
extern PictureSource pictureSource;

// "D:" for drive index 3; "?:" when no drive is selected.
std::string DriveText(std::uint8_t selected);
// What the dialogs show as the source of the pictures: the folder's path, or
// the drive as DriveText gives it.
std::string SourceText(const PictureSource& source, std::uint8_t selected);
