// Which drives the start-up offers, the drive dialog's choice, the About line.
#include "ui/drives.h"

#include <map>

#include "gtest/gtest.h"

namespace {

// Drive types as the system numbers them.
constexpr unsigned kRemovable = 2, kFixed = 3, kRemote = 4, kCdRom = 5, kRamDisk = 6;

DriveTable Scan(const std::map<char, unsigned>& types, std::string* asked = nullptr) {
    DriveTable table;
    for (auto& u : table.usable) u = 7;  // stale values must be overwritten
    ScanDrives(
        [&](const std::string& root) {
            if (asked) *asked += root;
            const auto it = types.find(root[0]);
            return it == types.end() ? 1u : it->second;  // DRIVE_NO_ROOT_DIR
        },
        &table);
    return table;
}

std::string Usable(const DriveTable& t) {
    std::string letters;
    for (int i = 0; i < kDriveCount; ++i) {
        EXPECT_TRUE(t.usable[i] == 0 || t.usable[i] == 1);
        if (t.usable[i]) letters += static_cast<char>('A' + i);
    }
    return letters;
}

TEST(DriveScan, FixedDiskAndOneCdRom) {
    std::string asked;
    const DriveTable t = Scan({{'C', kFixed}, {'D', kCdRom}}, &asked);
    EXPECT_EQ(Usable(t), "D");
    EXPECT_EQ(t.selected, 3);
    // Z: first, down to A:, each as a root path.
    EXPECT_EQ(asked.substr(0, 6), "Z:\\Y:\\");
    EXPECT_EQ(asked.substr(asked.size() - 3), "A:\\");
    EXPECT_EQ(asked.size(), 26u * 3);
}

TEST(DriveScan, RemoteAndCdRomDrivesAllCountAndTheLowestIsSelected) {
    const DriveTable t = Scan({{'C', kFixed}, {'E', kCdRom}, {'F', kCdRom}, {'M', kRemote}});
    EXPECT_EQ(Usable(t), "EFM");
    EXPECT_EQ(t.selected, 4);
}

TEST(DriveScan, ARamDiskAloneIsEnough) {
    const DriveTable t = Scan({{'C', kFixed}, {'R', kRamDisk}});
    EXPECT_EQ(Usable(t), "R");
    EXPECT_EQ(t.selected, 17);
}

TEST(DriveScan, FloppyAndFixedDiskOnlyLeaveNoDrive) {
    const DriveTable t = Scan({{'A', kRemovable}, {'C', kFixed}, {'Z', kFixed}});
    EXPECT_EQ(Usable(t), "");
    EXPECT_EQ(t.selected, kNoDrive);
    EXPECT_EQ(DriveText(t.selected), "?:");
}

TEST(DriveScan, DriveTextNamesTheLetter) {
    EXPECT_EQ(DriveText(0), "A:");
    EXPECT_EQ(DriveText(3), "D:");
    EXPECT_EQ(DriveText(25), "Z:");
}

TEST(DriveDialog, TheFirstCheckedRadioIsTheChoice) {
    bool checked[kDriveCount] = {};
    EXPECT_EQ(FirstChecked(checked), kNoDrive);
    checked[5] = true;
    EXPECT_EQ(FirstChecked(checked), 5);
    checked[3] = true;
    EXPECT_EQ(FirstChecked(checked), 3);
}

TEST(AboutBox, FirstLineEndsAtEitherLineBreak) {
    EXPECT_EQ(FirstLine("one\ntwo"), "one");
    EXPECT_EQ(FirstLine("one\r\ntwo"), "one");
    EXPECT_EQ(FirstLine("single"), "single");
    EXPECT_EQ(FirstLine(""), "");
    EXPECT_EQ(FirstLine("\nsecond"), "");
}

}  // namespace
