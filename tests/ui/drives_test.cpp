// Which drives the start-up offers, the drive dialog's choice, the About
// line; folders of pictures and the paths the program is given.
#include "ui/drives.h"

#include <filesystem>
#include <fstream>
#include <map>

#include "gtest/gtest.h"
#include "ui/picture_folder.h"
#include "ui/ui_text.h"

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
    // C: (fixed) and F: (a stick) hold the copy, D: (fixed) does not. Only
    // they are looked at: not the CD-ROM or network drive, nor missing letters.
    const DriveTable t = Scan({{'C', kFixed}, {'D', kFixed}, {'E', kCdRom}, {'F', kRemovable},
                               {'M', kRemote}},
                              nullptr, "CF", &probed);
    EXPECT_EQ(probed, "FDC");
    EXPECT_EQ(Usable(t), "CEFM");
    EXPECT_EQ(t.selected, 2);
    EXPECT_EQ(Scan({{'A', kRemovable}, {'C', kFixed}}, nullptr, "BD").selected, kNoDrive);
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

// ---------------------------------------------------------------------------
// Folders the user chooses, and paths the program is given. Real folders in
// the suite's scratch directory.

namespace fs = std::filesystem;

class PictureFolders : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all("folders");
        for (const char* file : {"disc/Extends/Sg006.rq6", "disc/Extends/Sg009.rq6", "disc/Extends/mine.rq6",
                                 "upper/EXTENDS/SG008.rq6", "mixed/extends/sg006.rq6", "mixed/Sg007.rq6",
                                 "壁紙/sg010.RQ6", "others/Sg005.rq6", "others/Sg006.bmp",
                                 "others/Extends/Sg011.rq6", "others/mine.rq6",
                                 "deeper/Pictures/Extends/Sg007.rq6"}) {
            const fs::path path = fs::u8path(Path(file));
            fs::create_directories(path.parent_path());
            std::ofstream(path) << "RQ61";
        }
        fs::create_directories(fs::u8path(Path("empty")));
        fs::create_directories(fs::u8path(Path("named/Sg009.rq6")));  // a folder is no picture
    }
    // Under "folders", with the system's separator.
    static std::string Path(const std::string& relative) {
        std::string path = "folders/" + relative;
        for (char& c : path) c = c == '/' ? JoinPath("a", "b")[1] : c;
        return path;
    }
};

TEST_F(PictureFolders, AFolderHoldsPicturesItselfOrInItsExtendsFolderInEitherCase) {
    for (const char* yes : {"disc", "disc/Extends", "upper", "mixed", "壁紙"})
        EXPECT_TRUE(FolderHoldsPictures(Path(yes))) << yes;
    for (const char* no : {"empty", "others", "deeper", "named", "absent", "mixed/Sg007.rq6"})
        EXPECT_FALSE(FolderHoldsPictures(Path(no))) << no;
    // A drive's root is a copy of the disc only with the Extends folder.
    EXPECT_TRUE(RootHoldsDisc(Path("disc/")));
    EXPECT_TRUE(RootHoldsDisc(Path("upper")));
    EXPECT_FALSE(RootHoldsDisc(Path("壁紙")));
    EXPECT_EQ(PictureNumberOf("sG009.Rq6"), 9);
    EXPECT_EQ(PictureNumberOf("Sg009.rq6.bak"), 0);
}

TEST_F(PictureFolders, EachPictureIsReadWhereTheFolderHoldsIt) {
    const struct {
        const char* folder;
        int picture;
        const char* path;
    } cases[] = {
        {"mixed", 6, "mixed/extends/sg006.rq6"}, {"mixed", 7, "mixed/Sg007.rq6"},
        {"壁紙", 10, "壁紙/sg010.RQ6"},
        // Missing: where a copy of the disc would have it.
        {"mixed", 8, "mixed/extends/Sg008.rq6"}, {"壁紙", 9, "壁紙/Sg009.rq6"},
    };
    for (const auto& c : cases) EXPECT_EQ(FolderPicturePath(Path(c.folder), c.picture), Path(c.path));
}

TEST_F(PictureFolders, APathGivenToTheProgramIsAFolderOrAnRq6File) {
    const struct {
        const char* path;
        const char* folder;  // null: refused
        int picture;
    } cases[] = {
        {"disc", "disc", 0},
        {"disc/Extends/Sg009.rq6", "disc/Extends", 9},
        {"disc/Extends/mine.rq6", "disc/Extends", 0},  // beside the pictures
        {"壁紙/sg010.RQ6", "壁紙", 10},
        {"others/mine.rq6", nullptr, 0},  // an RQ6 file, but no pictures beside it
        {"others/Sg006.bmp", nullptr, 0},
        {"others", nullptr, 0},
        {"absent/Sg006.rq6", nullptr, 0},
    };
    for (const auto& c : cases) {
        const OpenedPath opened = OpenPath(Path(c.path));
        EXPECT_EQ(opened.accepted, c.folder != nullptr) << c.path;
        EXPECT_EQ(opened.folder, c.folder ? Path(c.folder) : "") << c.path;
        EXPECT_EQ(opened.picture, c.picture) << c.path;
    }
    // A quoted root with its backslash comes as a quote.
    EXPECT_EQ(ArgumentPath("D:\""), "D:\\");
    EXPECT_EQ(ArgumentPath("C:\\壁紙"), "C:\\壁紙");
}

// The messages that ask for a folder of pictures name the disc's pictures.
TEST(PictureFolderTexts, NameTheFirstAndLastPictureAndTheFolder) {
    EXPECT_EQ(text::NoDriveAskFolder(),
              "有効なCDドライブが検出できませんでした。\n"
              "画像 (Sg006.rq6 ～ Sg010.rq6) の入ったフォルダを選んでください。");
    EXPECT_EQ(text::FolderHasNoPictures(),
              "このフォルダにも、その中の Extends フォルダにも、画像 (Sg006.rq6 ～ Sg010.rq6) がありません。");
    EXPECT_EQ(text::PathNotUsable("C:\\壁紙"),
              "C:\\壁紙 は、画像 (Sg006.rq6 ～ Sg010.rq6) の入ったフォルダでも RQ6 ファイルでもありません。");
}

}  // namespace
