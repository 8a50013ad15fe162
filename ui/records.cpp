#include "ui/records.h"

ConversionSettings conversionSettings;
DriveTable driveTable;

std::string DriveText(std::uint8_t selected) {
    std::string text = "?:";
    if (selected < kDriveCount) text[0] = static_cast<char>('A' + selected);
    return text;
}
