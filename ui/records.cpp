#include "ui/records.h"

ConversionSettings conversionSettings;
DriveTable driveTable;
PictureSource pictureSource;

std::string DriveText(std::uint8_t selected) {
    std::string text = "?:";
    if (selected < kDriveCount) text[0] = static_cast<char>('A' + selected);
    return text;
}

std::string SourceText(const PictureSource& source, std::uint8_t selected) {
    return source.folder.empty() ? DriveText(selected) : source.folder;
}
