// Which drives the start-up offers, the drive dialog's choice, the About
// line; folders of pictures and the paths the program is given.
#include "ui/drives.h"

#include <filesystem>
#include <fstream>
#include <map>

#include "gtest/gtest.h"
#include "ui/picture_folder.h"

namespace {

// Drive types as the system numbers them.
constexpr unsigned kRemovable = 2, kFixed = 3, kRemote = 4, kCdRom = 5, kRamDisk = 6;

// `discs`: the roots for which the look for a copy of the disc succeeds;
// every look is noted in `probed`.
DriveTable Scan(const std::map<char, unsigned>& types, std::string* asked = nullptr,
                const std::string& discs = "", std::string* probed = nullptr) {
    DriveTable table;
    for (auto& u : table.usable) u = 7;  // stale values must be overwritten
    ScanDrives(
        [&](const std::string& root) {
            if (asked) *asked += root;
            const auto it = types.find(root[0]);
            return it == types.end() ? 1u : it->second;  // DRIVE_NO_ROOT_DIR
        },
        [&](const std::string& root) {
            if (probed) *probed += root[0];
            return discs.find(root[0]) != std::string::npos;
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

TEST(DriveScan, AHardDiskOrStickCountsOnlyWithACopyOfTheDisc) {
    std::string probed;
    // C: holds the copy, D: (fixed) and F: (a stick) do not. Only they are
    // looked at: not the CD-ROM drive, the network drive or missing letters.
    const DriveTable t = Scan({{'C', kFixed}, {'D', kFixed}, {'E', kCdRom}, {'F', kRemovable},
                               {'M', kRemote}},
                              nullptr, "C", &probed);
    EXPECT_EQ(probed, "FDC");
    EXPECT_EQ(Usable(t), "CEM");
    EXPECT_EQ(t.selected, 2);
    const DriveTable stick = Scan({{'A', kRemovable}, {'C', kFixed}, {'G', kRemovable}}, nullptr, "G");
    EXPECT_EQ(Usable(stick), "G");
    EXPECT_EQ(stick.selected, 6);
    EXPECT_EQ(Scan({{'C', kFixed}, {'D', kFixed}}, nullptr, "AB").selected, kNoDrive);
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

TEST(DriveDialog, ADriveReplacesAFolderAndNoneCheckedKeepsIt) {
    DriveTable table;
    table.selected = 3;
    PictureSource source{"C:\\pictures", 0};
    ChooseDrive(kNoDrive, &table, &source);  // a folder: no radio was checked
    EXPECT_EQ(source.folder, "C:\\pictures");
    EXPECT_EQ(table.selected, 3);
    EXPECT_EQ(SourceText(source, table.selected), "C:\\pictures");
    ChooseDrive(4, &table, &source);
    EXPECT_EQ(source.folder, "");
    EXPECT_EQ(table.selected, 4);
    EXPECT_EQ(SourceText(source, table.selected), "E:");
    ChooseDrive(kNoDrive, &table, &source);
    EXPECT_EQ(table.selected, kNoDrive);
}

// ---------------------------------------------------------------------------
// Folders the user chooses, and paths the program is given. Real folders in
// the suite's scratch directory.

namespace fs = std::filesystem;

class PictureFolders : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all("folders");
        fs::create_directories("folders");
    }
    static void Make(const std::string& path, bool folder = false) {
        const fs::path full = fs::u8path("folders/" + path);
        fs::create_directories(full.parent_path());
        if (folder) {
            fs::create_directories(full);
        } else {
            std::ofstream(full) << "RQ61";
        }
    }
    static std::string Native(std::string path) {
        for (char& c : path) c = c == '/' ? JoinPath("a", "b")[1] : c;
        return path;
    }
};

TEST_F(PictureFolders, AFolderHoldsPicturesItselfOrInItsExtendsFolderInEitherCase) {
    Make("disc/Extends/Sg006.rq6");
    Make("copy/sg010.RQ6");
    Make("upper/EXTENDS/SG008.rq6");
    Make("empty/", true);
    Make("others/Sg005.rq6");
    Make("others/Sg011.rq6");
    Make("others/Sg006.bmp");
    Make("others/Extends/readme.txt");
    Make("deeper/Pictures/Extends/Sg007.rq6");  // two levels down: not looked at
    Make("named/Sg009.rq6/", true);             // a folder is no picture
    const struct {
        const char* folder;
        bool holds;
    } cases[] = {
        {"disc", true}, {"copy", true}, {"upper", true}, {"empty", false}, {"others", false},
        {"deeper", false}, {"named", false}, {"absent", false}, {"copy/sg010.RQ6", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FolderHoldsPictures(Native("folders/" + std::string(c.folder))), c.holds)
            << c.folder;
    }
    // A drive's root counts as a copy of the disc only with the Extends folder.
    EXPECT_TRUE(RootHoldsDisc(Native("folders/disc/")));
    EXPECT_TRUE(RootHoldsDisc(Native("folders/upper")));
    EXPECT_FALSE(RootHoldsDisc(Native("folders/copy")));
    EXPECT_FALSE(RootHoldsDisc(Native("folders/empty")));
}

TEST_F(PictureFolders, EachPictureIsReadWhereTheFolderHoldsIt) {
    Make("mixed/extends/sg006.rq6");
    Make("mixed/Sg007.rq6");
    Make("mixed/Extends.txt");
    Make("flat/SG010.RQ6");
    const std::string mixed = Native("folders/mixed");
    EXPECT_EQ(FolderPicturePath(mixed, 6), JoinPath(JoinPath(mixed, "extends"), "sg006.rq6"));
    EXPECT_EQ(FolderPicturePath(mixed, 7), JoinPath(mixed, "Sg007.rq6"));
    // Missing: where a copy of the disc would have it.
    EXPECT_EQ(FolderPicturePath(mixed, 8), JoinPath(JoinPath(mixed, "extends"), "Sg008.rq6"));
    const std::string flat = Native("folders/flat");
    EXPECT_EQ(FolderPicturePath(flat, 10), JoinPath(flat, "SG010.RQ6"));
    EXPECT_EQ(FolderPicturePath(flat, 9), JoinPath(flat, "Sg009.rq6"));
    EXPECT_EQ(JoinPath(Native("folders/"), "x"), Native("folders/x"));
    EXPECT_EQ(PictureNumberOf("sG009.Rq6"), 9);
    EXPECT_EQ(PictureNumberOf("Sg009.rq6.bak"), 0);
    EXPECT_EQ(PictureFileName(10), "Sg010.rq6");
}

TEST_F(PictureFolders, APathGivenToTheProgramIsAFolderOrAnRq6File) {
    Make("disc/Extends/Sg006.rq6");
    Make("disc/Extends/Sg009.rq6");
    Make("disc/Extends/mine.rq6");
    Make("plain/mine.rq6");
    Make("plain/photo.bmp");
    Make("壁紙/Sg008.RQ6");
    Make("empty/", true);
    const struct {
        const char* path;
        bool accepted;
        const char* folder;
        int picture;
    } cases[] = {
        {"disc", true, "disc", 0},
        {"disc/Extends", true, "disc/Extends", 0},
        {"disc/Extends/Sg009.rq6", true, "disc/Extends", 9},
        {"disc/Extends/mine.rq6", true, "disc/Extends", 0},  // beside the pictures
        {"壁紙/Sg008.RQ6", true, "壁紙", 8},
        {"壁紙", true, "壁紙", 0},
        {"plain/mine.rq6", false, "", 0},  // an RQ6 file, but no pictures in its folder
        {"plain/photo.bmp", false, "", 0},
        {"plain", false, "", 0},
        {"empty", false, "", 0},
        {"absent", false, "", 0},
        {"absent/Sg006.rq6", false, "", 0},
    };
    for (const auto& c : cases) {
        const OpenedPath opened = OpenPath(Native("folders/" + std::string(c.path)));
        EXPECT_EQ(opened.accepted, c.accepted) << c.path;
        EXPECT_EQ(opened.folder, c.accepted ? Native("folders/" + std::string(c.folder)) : "")
            << c.path;
        EXPECT_EQ(opened.picture, c.picture) << c.path;
    }
    // A quoted root with its backslash comes as a quote.
    EXPECT_EQ(ArgumentPath("D:\""), "D:\\");
    EXPECT_EQ(ArgumentPath("C:\\壁紙"), "C:\\壁紙");
    EXPECT_EQ(ArgumentPath(""), "");
}

}  // namespace
