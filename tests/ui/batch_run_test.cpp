// The batch run against a recording view: real pictures converted through the
// engine, every notice and failure path, abort, and naming per picture.
#include "ui/batch_run.h"

#include <sys/stat.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <random>

#include "engine/conversion_status.h"
#include "engine/disc_pictures.h"
#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"
#include "ui/picture_folder.h"
#include "ui/ui_text.h"

// Linked with the file layer with faults, the suite also runs pictures from a
// scratched disc.
#ifdef TAVREL_FILE_FAULTS
#include "tests/platform/file_faults.h"
#endif

#ifdef _WIN32
#include <direct.h>
#define MakeDir(p) _mkdir(p)
#define RemoveDir(p) _rmdir(p)
#else
#include <unistd.h>
#define MakeDir(p) mkdir(p, 0755)
#define RemoveDir(p) rmdir(p)
#endif

namespace {

// Also true while the file is held open exclusively (as the job holds its output).
bool OnDisk(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The temporary files the batch run has left in the current directory.
std::vector<std::string> Temporaries() {
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        const std::string name = entry.path().filename().u8string();
        if (name.find(".tavrel-") != std::string::npos) left.push_back(name);
    }
    return left;
}

// A file that a run must not lose: the user's wallpaper of the same name.
const std::vector<std::uint8_t> kOldWallpaper = {'B', 'M', 'o', 'l', 'd'};

TEST(SizeCorrection, RangeAndAspectRules) {
    const struct {
        int w, h, wantW, wantH;
        SizeNotice notice;
    } cases[] = {
        {199, 150, 200, 150, SizeNotice::kTooSmall},  {200, 149, 200, 150, SizeNotice::kTooSmall},
        {0, 0, 200, 150, SizeNotice::kTooSmall},      {-5, 900, 200, 150, SizeNotice::kTooSmall},
        {3201, 2401, 3200, 2400, SizeNotice::kTooLarge},
        {4000, 2400, 3200, 2400, SizeNotice::kAspect},  // too large one way only
        {4000, 600, 800, 600, SizeNotice::kAspect},     {640, 480, 640, 480, SizeNotice::kNone},
        {641, 480, 640, 480, SizeNotice::kAspect},      {1280, 1024, 1280, 960, SizeNotice::kAspect},
        {200, 150, 200, 150, SizeNotice::kNone},        {3200, 2400, 3200, 2400, SizeNotice::kNone},
        {2147483647, 2147483647, 3200, 2400, SizeNotice::kTooLarge},
        {2147483647, 300, 400, 300, SizeNotice::kAspect},
    };
    for (const auto& c : cases) {
        int w = c.w, h = c.h;
        EXPECT_EQ(CorrectSize(&w, &h), c.notice) << c.w << "x" << c.h;
        EXPECT_EQ(w, c.wantW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.wantH) << c.w << "x" << c.h;
        // Whatever came in, the result is 4:3 and within the limits.
        EXPECT_EQ(w * 3, h * 4);
        EXPECT_TRUE(w >= 200 && w <= 3200);
    }
}

TEST(SizeCorrection, CroppedWallpapersKeepTheirShapeUpTo7680) {
    const struct {
        int w, h, wantW, wantH;
        SizeNotice notice;
    } cases[] = {
        {1920, 1080, 1920, 1080, SizeNotice::kNone},  {1080, 1920, 1080, 1920, SizeNotice::kNone},
        {3840, 2160, 3840, 2160, SizeNotice::kNone},  {7680, 4320, 7680, 4320, SizeNotice::kNone},
        {3440, 1440, 3440, 1440, SizeNotice::kNone},  {200, 150, 200, 150, SizeNotice::kNone},
        {150, 200, 200, 150, SizeNotice::kTooSmall},  // the smallest size is not turned
        {100, 100, 200, 150, SizeNotice::kTooSmall},  {0, 1080, 200, 150, SizeNotice::kTooSmall},
        // 4320 x 7680 / 7681 = 4319.4: rounded down.
        {7681, 4320, 7680, 4319, SizeNotice::kTooLarge},
        {4320, 7681, 4319, 7680, SizeNotice::kTooLarge},
        {15360, 8640, 7680, 4320, SizeNotice::kTooLarge},
        {7681, 7681, 7680, 7680, SizeNotice::kTooLarge},
        // A thin strip keeps the smallest height rather than dropping to 11.
        {100000, 150, 7680, 150, SizeNotice::kTooLarge},
        {2147483647, 2147483647, 7680, 7680, SizeNotice::kTooLarge},
        {2147483647, 1080, 7680, 150, SizeNotice::kTooLarge},
    };
    for (const auto& c : cases) {
        int w = c.w, h = c.h;
        EXPECT_EQ(CorrectCropSize(&w, &h), c.notice) << c.w << "x" << c.h;
        EXPECT_EQ(w, c.wantW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.wantH) << c.w << "x" << c.h;
    }
    EXPECT_EQ(SizeNoticeText(SizeNotice::kTooLarge, 7680, 4319),
              "出力画像が大きすぎますので、次の通り\n修正します。\n  幅 : 7680 Pixel / 高さ : 4319 Pixel");
}

TEST(SizeCorrection, NoticeTexts) {
    EXPECT_EQ(SizeNoticeText(SizeNotice::kTooSmall, 200, 150),
              "出力画像が小さすぎますので、次の通り\n修正します。\n  幅 : 200 Pixel / 高さ : 150 Pixel");
    EXPECT_EQ(SizeNoticeText(SizeNotice::kTooLarge, 3200, 2400),
              "出力画像が大きすぎますので、次の通り\n修正します。\n  幅 : 3200 Pixel / 高さ : 2400 Pixel");
    EXPECT_EQ(SizeNoticeText(SizeNotice::kAspect, 1280, 960),
              "出力画像の縦横比は、4:3でなくては\nなりませんので、次の通り修正します。\n  幅 : 1280 "
              "Pixel / 高さ : 960 Pixel");
    EXPECT_EQ(SizeNoticeText(SizeNotice::kNone, 1, 1), "");
    EXPECT_STREQ(SizeNoticeCaption(SizeNotice::kTooSmall), "縦横修正の通知");
    EXPECT_STREQ(SizeNoticeCaption(SizeNotice::kTooLarge), "縦横修正の通知");
    EXPECT_STREQ(SizeNoticeCaption(SizeNotice::kAspect), "縦横比修正の通知");
}

TEST(Names, PictureNumberDigits) {
    std::string in = "D:\\Extends\\Sg0??.rq6";
    FillPictureNumber(&in, 15, 6);
    EXPECT_EQ(in, "D:\\Extends\\Sg006.rq6");
    FillPictureNumber(&in, 15, 10);
    EXPECT_EQ(in, "D:\\Extends\\Sg010.rq6");
    std::string out = "ORVSg0??.bmp";
    FillPictureNumber(&out, 7, 9);
    EXPECT_EQ(out, "ORVSg009.bmp");
    std::string long_name = "Orvane_Sg0??.bmp";
    FillPictureNumber(&long_name, 11, 7);
    EXPECT_EQ(long_name, "Orvane_Sg007.bmp");
    // Positions outside the text change nothing.
    std::string s = "ab";
    FillPictureNumber(&s, 0, 6);
    FillPictureNumber(&s, 5, 6);
    EXPECT_EQ(s, "ab");
}

TEST(Names, SaveDialogExtensionRule) {
    EXPECT_EQ(WithBitmapExtension("abc"), "abc.bmp");
    EXPECT_EQ(WithBitmapExtension("x.bmp"), "x.bmp");
    EXPECT_EQ(WithBitmapExtension("x.BMP"), "x.BMP");
    EXPECT_EQ(WithBitmapExtension("x.Bmp"), "x.Bmp.bmp");
    EXPECT_EQ(WithBitmapExtension(".bmp"), ".bmp.bmp");
    EXPECT_EQ(WithBitmapExtension("a.b"), "a.b.bmp");
    EXPECT_EQ(WithBitmapExtension("壁紙"), "壁紙.bmp");
    EXPECT_EQ(WithBitmapExtension("壁紙.bmp"), "壁紙.bmp");
    EXPECT_FALSE(WithBitmapExtension("").has_value());
}

TEST(Display, PercentKilobytesAndComment) {
    EXPECT_EQ(ProgressPercent(0, 150), 0u);
    EXPECT_EQ(ProgressPercent(149, 150), 99u);
    EXPECT_EQ(ProgressPercent(150, 150), 100u);
    EXPECT_EQ(ProgressPercent(1, 3), 33u);
    EXPECT_EQ(ProgressPercent(2399, 2400), 99u);
    EXPECT_EQ(ProgressPercent(4000000000u, 4000000000u), 100u);  // no overflow
    for (std::uint32_t h : {150u, 151u, 768u, 2400u}) {
        for (std::uint32_t n = 0; n < h; ++n) ASSERT_LT(ProgressPercent(n, h), 100u) << n << "/" << h;
    }
    EXPECT_EQ(Kilobytes(921654), 900u);
    EXPECT_EQ(Kilobytes(511), 0u);
    EXPECT_EQ(Kilobytes(512), 1u);
    EXPECT_EQ(Kilobytes(1535), 1u);
    EXPECT_EQ(Kilobytes(1536), 2u);
    EXPECT_EQ(Kilobytes(4294967295u), 4194304u);

    std::uint8_t comment[128];
    std::fill(std::begin(comment), std::end(comment), 'x');
    EXPECT_EQ(CommentLength(comment), 128u);  // full, no terminator
    comment[5] = 0;
    EXPECT_EQ(CommentLength(comment), 5u);
    comment[0] = 0;
    EXPECT_EQ(CommentLength(comment), 0u);
}

// ---------------------------------------------------------------------------
// The run itself.

struct Box {
    std::string message;
    std::string caption;
    MessageIcon icon;
};

class RecordingView final : public BatchView {
public:
    void Notify(const std::string& message, const char* caption, MessageIcon icon) override {
        boxes.push_back({message, caption, icon});
        if (duringBox) duringBox();
    }
    bool AskYesNo(const char* message, const char* caption) override {
        boxes.push_back({message, caption, MessageIcon::kQuestion});
        EXPECT_FALSE(yesNo.empty());
        if (yesNo.empty()) return true;
        const bool yes = yesNo.front();
        yesNo.pop_front();
        return yes;
    }
    std::optional<std::string> RunSaveDialog(std::string* fullPath) override {
        shownPaths.push_back(*fullPath);
        EXPECT_FALSE(saveAnswers.empty());
        if (saveAnswers.empty()) return std::nullopt;
        const std::optional<std::string> answer = saveAnswers.front();
        saveAnswers.pop_front();
        if (answer) *fullPath = "C:\\chosen\\" + *answer;
        return answer;
    }
    std::string CurrentDirectory() override { return "C:\\out"; }
    std::string SystemReason(int error) override { return "system error " + std::to_string(error); }
    void ShowPictureInfo(const PictureInfo& info) override {
        names.push_back(info.fileName);
        drives.push_back(info.source);
        EXPECT_EQ(info.directory, "C:\\out");
        comments.emplace_back(reinterpret_cast<const char*>(info.comment), CommentLength(info.comment));
        kilobytes.push_back(info.kilobytes);
    }
    void ShowPercent(unsigned percent) override { percents.push_back(percent); }
    void ShowFinished(const std::string& last) override {
        ++finished;
        lastWritten = last;
    }

    std::vector<Box> boxes;
    std::deque<bool> yesNo;
    std::deque<std::optional<std::string>> saveAnswers;
    std::vector<std::string> shownPaths, names, drives, comments;
    std::vector<std::uint32_t> kilobytes;
    std::vector<unsigned> percents;
    int finished = 0;
    std::string lastWritten = "(not finished)";
    std::function<void()> duringBox;
};

constexpr std::uint32_t kInW = 48, kInH = 36;

std::string Input(char drive, int n) {
    return std::string(1, drive) + "/Extends/" + disc::PictureFileName(n);
}

class BatchRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"D", "D/Extends", "E", "E/Extends"}) MakeDir(d);
        std::mt19937 rng(6);
        for (int n = 6; n <= 10; ++n) {
            std::remove(Input('D', n).c_str());
            std::remove(Input('E', n).c_str());
            std::remove(Out(n).c_str());
        }
        for (const std::string& name : Temporaries()) std::remove(name.c_str());
        pictureSource = PictureSource{};
        for (int n : {6, 7, 9, 10}) {  // picture 8 is missing from D:
            pictures[n] = test::RandomPicture(kInW, kInH, rng);
            test::WritePicture(Input('D', n), pictures[n], "picture " + std::to_string(n));
        }
        test::WritePicture(Input('E', 8), test::RandomPicture(kInW, kInH, rng), "on E");
        // Relative paths: the drive letter becomes the folder's name.
        driveTable = DriveTable{};
        driveTable.usable[3] = driveTable.usable[4] = 1;
        driveTable.selected = 3;
        ConversionSettings s;
        s.inputPath = "A/Extends/Sg0??.rq6";
        s.inputDigitPos = 14;
        s.outputName = "ORVSg0??.bmp";
        s.outputDigitPos = 7;
        s.exponent = 1.3;
        s.width = 200;
        s.height = 150;
        s.colorMode = 8;
        conversionSettings = s;
        run.currentJob.reset();
        run.makeJob = [] { return std::make_unique<WPConvert>(); };
        // One row per tick, unless a test sets a budget and a clock.
        run.tickBudget = std::chrono::nanoseconds(0);
    }
    void TearDown() override {
        run.Close();
#ifdef TAVREL_FILE_FAULTS
        file_faults::UnlimitedReads();
#endif
    }

    static std::string Out(int n) { return "ORVSg0" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ".bmp"; }

    // Ticks until the run finishes; the number of working ticks.
    int TickToEnd(int limit = 10000) {
        int ticks = 0;
        while (ticks < limit) {
            ++ticks;
            if (run.OnTick(view) == BatchRun::Tick::kFinished) return ticks;
        }
        ADD_FAILURE() << "run did not finish";
        return ticks;
    }

    // The first of the chosen pictures fails to read in its rows: the failure
    // is reported once, while its partial file is still there, the file is
    // then deleted and the run ends without trying the next picture. A file
    // of its name from before stays as it was.
    void ExpectReadFailureEndsTheRun(int first, int next) {
        test::WriteRaw(Out(first), kOldWallpaper);
        ASSERT_TRUE(run.Start(view));
        int nestedTicks = 0;
        view.duringBox = [&] {
            ++nestedTicks;
            EXPECT_TRUE(OnDisk(run.temporaryPath));
            // Ticks keep arriving while the message box is open; none may step.
            EXPECT_EQ(run.OnTick(view), BatchRun::Tick::kIgnored);
        };
        TickToEnd();
        ASSERT_EQ(view.boxes.size(), 1u);
        EXPECT_EQ(view.boxes[0].message, StatusMessage(kStatusReadFailed));
        EXPECT_EQ(view.boxes[0].caption, "変換エラー");
        EXPECT_EQ(view.boxes[0].icon, MessageIcon::kError);
        EXPECT_EQ(nestedTicks, 1);
        EXPECT_EQ(view.finished, 1);
        EXPECT_EQ(run.currentJob, nullptr);
        // It failed partway: rows had been written.
        ASSERT_FALSE(view.percents.empty());
        EXPECT_GT(view.percents.back(), 0u);
        EXPECT_LT(view.percents.back(), 100u);
        EXPECT_TRUE(test::ReadBytes(Out(first)) == kOldWallpaper);
        EXPECT_TRUE(Temporaries().empty());
        EXPECT_FALSE(OnDisk(Out(next)));
        EXPECT_EQ(view.names.size(), 1u);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(run.OnTick(view), BatchRun::Tick::kIgnored);
        EXPECT_EQ(view.boxes.size(), 1u);
        EXPECT_EQ(view.finished, 1);
    }

    void ExpectSameAsEngine(const std::string& input, const std::string& output, int w, int h) {
        run.Close();  // the job in hand keeps its files open
        const std::string expected = "expected-" + output;
        const auto& s = conversionSettings;
        ASSERT_EQ(test::Convert(input, expected, s.exponent, w, h, s.colorMode).status, 0u);
        const auto want = test::ReadBytes(expected);
        ASSERT_FALSE(want.empty());
        EXPECT_TRUE(test::ReadBytes(output) == want) << output;
        std::remove(expected.c_str());
    }

    BatchRun run;
    RecordingView view;
    test::Picture pictures[11];
};

TEST_F(BatchRunTest, ChosenPicturesRunInOrderAndMatchTheEngineByteForByte) {
    conversionSettings.imageMask = 1 | 16;  // Sg006 and Sg010
    conversionSettings.width = 300;         // not 4:3: corrected once, before the first picture
    conversionSettings.height = 200;
    ASSERT_TRUE(run.Start(view));
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].caption, "縦横比修正の通知");
    EXPECT_EQ(view.boxes[0].message, SizeNoticeText(SizeNotice::kAspect, 264, 198));
    EXPECT_EQ(view.boxes[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(run.requestedWidth, 300);
    EXPECT_EQ(conversionSettings.width, 264);
    EXPECT_EQ(conversionSettings.inputPath, "D/Extends/Sg006.rq6");
    ASSERT_NE(run.currentJob, nullptr);
    EXPECT_EQ(run.currentJob->linesDone, 1u);  // the first row is written at once

    // One row per tick: 197 more rows, then the second picture begins within
    // the tick that completes the first, then its 197 rows.
    EXPECT_EQ(TickToEnd(), 197 + 197);
    EXPECT_EQ(view.boxes.size(), 1u);  // the notice came once
    EXPECT_EQ(view.finished, 1);
    EXPECT_EQ(conversionSettings.inputPath, "D/Extends/Sg010.rq6");
    EXPECT_EQ(run.requestedWidth, 264);  // the second picture started from the corrected size

    EXPECT_EQ(view.names, (std::vector<std::string>{"ORVSg006.bmp", "ORVSg010.bmp"}));
    EXPECT_EQ(view.drives, (std::vector<std::string>{"D:", "D:"}));
    EXPECT_EQ(view.lastWritten, JoinPath("C:\\out", "ORVSg010.bmp"));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(view.comments, (std::vector<std::string>{"picture 6", "picture 10"}));
    ExpectSameAsEngine(Input('D', 6), "ORVSg006.bmp", 264, 198);
    ExpectSameAsEngine(Input('D', 10), "ORVSg010.bmp", 264, 198);
    // 8-bit file: 54 + 1024 + 198 rows of 264 bytes.
    EXPECT_EQ(view.kilobytes[0], Kilobytes(54 + 1024 + 198 * 264));

    // Percentages: 0 at each start, never falling within a picture, 100 only
    // at a picture's last row.
    std::vector<unsigned> hundreds;
    for (std::size_t i = 0; i < view.percents.size(); ++i) {
        if (view.percents[i] == 100) hundreds.push_back(i);
        if (i > 0 && view.percents[i] != 0) {
            EXPECT_GE(view.percents[i], view.percents[i - 1]);
        }
    }
    EXPECT_EQ(hundreds.size(), 2u);
    EXPECT_EQ(view.percents.back(), 100u);
    EXPECT_EQ(std::count(view.percents.begin(), view.percents.end(), 99u), 2);  // row 197 of 198

    // After the end, further ticks do nothing.
    EXPECT_EQ(run.OnTick(view), BatchRun::Tick::kIgnored);
    EXPECT_EQ(view.finished, 1);
}

TEST_F(BatchRunTest, AnEmptyChoiceEndsAtOnceWithoutAMessage) {
    conversionSettings.imageMask = 0;
    EXPECT_FALSE(run.Start(view));
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_EQ(run.pictureIndex, 6);
}

TEST_F(BatchRunTest, TheSelectedDriveIsReadFrom) {
    conversionSettings.imageMask = 4;  // Sg008, only on E:
    driveTable.selected = 4;
    ASSERT_TRUE(run.Start(view));
    EXPECT_EQ(conversionSettings.inputPath, "E/Extends/Sg008.rq6");
    EXPECT_EQ(view.drives, (std::vector<std::string>{"E:"}));
    EXPECT_EQ(view.comments, (std::vector<std::string>{"on E"}));
    TickToEnd();
    ExpectSameAsEngine(Input('E', 8), "ORVSg008.bmp", 200, 150);
    EXPECT_TRUE(view.boxes.empty());
}

TEST_F(BatchRunTest, AbortDeletesOnlyThePictureInHand) {
    conversionSettings.imageMask = 1 | 2 | 8;  // 6, 7, 9
    test::WriteRaw(Out(9), kOldWallpaper);
    ASSERT_TRUE(run.Start(view));
    while (conversionSettings.inputPath != "D/Extends/Sg009.rq6") {
        ASSERT_NE(run.OnTick(view), BatchRun::Tick::kFinished);
    }
    for (int i = 0; i < 10; ++i) run.OnTick(view);
    ASSERT_TRUE(OnDisk(run.temporaryPath));
    run.Abort(view);
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message, "処理を中断しました。");
    EXPECT_EQ(view.boxes[0].caption, "処理の中止");
    EXPECT_EQ(view.boxes[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(run.currentJob, nullptr);
    EXPECT_TRUE(test::ReadBytes(Out(9)) == kOldWallpaper);
    EXPECT_TRUE(Temporaries().empty());
    ExpectSameAsEngine(Input('D', 6), "ORVSg006.bmp", 200, 150);
    ExpectSameAsEngine(Input('D', 7), "ORVSg007.bmp", 200, 150);
}

// The dialog closed in the middle of a picture (the system ending the
// program, say): the same as an abort, without the message.
TEST_F(BatchRunTest, ClosingMidPictureKeepsTheOldFileAndLeavesNoTemporary) {
    conversionSettings.imageMask = 16;
    test::WriteRaw(Out(10), kOldWallpaper);
    ASSERT_TRUE(run.Start(view));
    for (int i = 0; i < 10; ++i) ASSERT_EQ(run.OnTick(view), BatchRun::Tick::kGoesOn);
    run.Close();
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_TRUE(test::ReadBytes(Out(10)) == kOldWallpaper);
    EXPECT_TRUE(Temporaries().empty());
    // Finished, the new picture takes the old one's place.
    ASSERT_TRUE(run.Start(view));
    TickToEnd();
    ExpectSameAsEngine(Input('D', 10), Out(10), 200, 150);
}

// Pictures from a folder the user chose, in lower case, one in its Extends
// folder and one beside it; the drive is not read.
TEST_F(BatchRunTest, PicturesComeFromAChosenFolderWhereverItHoldsThem) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::u8path("コピー");
    fs::remove_all(folder);
    fs::create_directories(folder / "extends");
    fs::copy_file(Input('D', 6), folder / "extends" / "sg006.rq6");
    fs::copy_file(Input('D', 10), folder / "SG010.RQ6");
    pictureSource.folder = folder.u8string();
    driveTable.selected = 4;
    conversionSettings.imageMask = 1 | 16;
    ASSERT_TRUE(run.Start(view));
    TickToEnd();
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_EQ(view.drives, (std::vector<std::string>{folder.u8string(), folder.u8string()}));
    ExpectSameAsEngine(Input('D', 6), Out(6), 200, 150);
    ExpectSameAsEngine(Input('D', 10), Out(10), 200, 150);
}

TEST_F(BatchRunTest, AMissingFirstPictureEndsTheRunWithItsMessage) {
    conversionSettings.imageMask = 4;  // Sg008 is not on D:
    EXPECT_FALSE(run.Start(view));
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message, StatusMessage(kStatusInputNotOpened));
    EXPECT_EQ(view.boxes[0].caption, "変換開始エラー");
    EXPECT_EQ(view.boxes[0].icon, MessageIcon::kError);
    EXPECT_EQ(run.currentJob, nullptr);
    EXPECT_FALSE(OnDisk("ORVSg008.bmp"));
}

TEST_F(BatchRunTest, AMissingLaterPictureFinishesTheRunAndKeepsTheEarlierOnes) {
    conversionSettings.imageMask = 1 | 4 | 8;  // 6, 8 (missing), 9 (not tried)
    ASSERT_TRUE(run.Start(view));
    TickToEnd();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].caption, "変換開始エラー");
    EXPECT_EQ(view.finished, 1);
    EXPECT_EQ(run.currentJob, nullptr);
    EXPECT_TRUE(OnDisk("ORVSg006.bmp"));
    EXPECT_FALSE(OnDisk("ORVSg008.bmp"));
    EXPECT_FALSE(OnDisk("ORVSg009.bmp"));
}

TEST_F(BatchRunTest, ADamagedPictureIsReportedOnceAndLeavesNoPartialFile) {
    // Cut Sg009 in the middle of its rows: it begins, then a row cannot be read.
    auto bytes = test::ReadBytes(Input('D', 9));
    bytes.resize(bytes.size() / 2);
    test::WriteRaw(Input('D', 9), bytes);
    conversionSettings.imageMask = 8 | 16;
    ExpectReadFailureEndsTheRun(9, 10);
}

#ifdef TAVREL_FILE_FAULTS
TEST_F(BatchRunTest, AReadFailingMidPictureIsReportedOnceAndLeavesNoPartialFile) {
    // A scratched disc: the reads of each picture fail halfway through it.
    file_faults::LimitReads(test::ReadBytes(Input('D', 6)).size() / 2);
    conversionSettings.imageMask = 1 | 2;
    ExpectReadFailureEndsTheRun(6, 7);
}
#endif

TEST_F(BatchRunTest, AnInputThatVanishesBetweenPicturesIsReportedAtItsBegin) {
    conversionSettings.imageMask = 1 | 2;
    ASSERT_TRUE(run.Start(view));
    for (int i = 0; i < 10; ++i) ASSERT_EQ(run.OnTick(view), BatchRun::Tick::kGoesOn);
    ASSERT_EQ(std::remove(Input('D', 7).c_str()), 0);
    TickToEnd();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message, StatusMessage(kStatusInputNotOpened));
    EXPECT_EQ(view.boxes[0].caption, "変換開始エラー");
    EXPECT_EQ(view.boxes[0].icon, MessageIcon::kError);
    EXPECT_EQ(view.finished, 1);
    EXPECT_EQ(run.currentJob, nullptr);
    EXPECT_FALSE(OnDisk(Out(7)));
    ExpectSameAsEngine(Input('D', 6), Out(6), 200, 150);
}

// The picture is written whole under its temporary name, which then cannot
// take the output's: reported with the system's reason, the temporary goes,
// and what was in the way stays.
TEST_F(BatchRunTest, AnOutputNameThatCannotBeTakenIsReportedWithTheSystemsReason) {
    MakeDir("ORVSg006.bmp");  // a folder in the way
    conversionSettings.imageMask = 1 | 2;
    ASSERT_TRUE(run.Start(view));
    TickToEnd();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message.rfind(std::string(StatusMessage(kStatusOutputNotCreated)) +
                                              "\nsystem error ",
                                          0),
              0u)
        << view.boxes[0].message;
    EXPECT_EQ(view.boxes[0].caption, "変換エラー");
    EXPECT_EQ(view.finished, 1);
    EXPECT_EQ(view.lastWritten, "");
    EXPECT_EQ(run.currentJob, nullptr);
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(OnDisk(Out(7)));  // the run ended there
    EXPECT_EQ(RemoveDir("ORVSg006.bmp"), 0);  // still the empty folder
}

// The picture itself, through a link, as a save name: said, refused, asked again.
TEST_F(BatchRunTest, ASaveNameThatIsThePicturesOwnInputIsRefused) {
    const auto picture = test::ReadBytes(Input('D', 6));
    std::remove("own.bmp");
    std::filesystem::create_hard_link(Input('D', 6), "own.bmp");
    conversionSettings.imageMask = 1;
    conversionSettings.outputDigitPos = -1;
    // The refusal is explained and the save dialog comes back at once.
    view.saveAnswers = {std::string("own.bmp"), std::string("fine")};
    ASSERT_TRUE(run.Start(view));
    TickToEnd();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message,
              "入力ファイルと同じファイルには保存できません。\n別のファイル名を指定してください。");
    EXPECT_EQ(view.boxes[0].caption, "保存ファイル名エラー");
    EXPECT_EQ(view.boxes[0].icon, MessageIcon::kError);
    EXPECT_EQ(view.shownPaths.size(), 2u);
    ExpectSameAsEngine(Input('D', 6), "fine.bmp", 200, 150);  // closes the job's files
    EXPECT_TRUE(test::ReadBytes(Input('D', 6)) == picture);
    std::remove("fine.bmp");
}

TEST_F(BatchRunTest, AJobThatCannotBeCreatedIsReported) {
    run.makeJob = []() -> std::unique_ptr<WPConvert> { throw std::bad_alloc(); };
    conversionSettings.imageMask = 1;
    EXPECT_FALSE(run.Start(view));
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message, "初期化に失敗しました。");
    EXPECT_EQ(view.boxes[0].caption, "エラー");
    EXPECT_EQ(view.boxes[0].icon, MessageIcon::kError);
    EXPECT_EQ(run.currentJob, nullptr);
}

TEST_F(BatchRunTest, NamesChosenPerPictureGetTheExtensionAndTheLastPathIsShownAgain) {
    conversionSettings.imageMask = 1 | 2;
    conversionSettings.outputName.clear();
    conversionSettings.outputDigitPos = -1;
    conversionSettings.outputPath = "C:\\earlier\\wall.bmp";
    view.saveAnswers = {std::string("abc"), std::nullopt, std::string("x.BMP")};
    view.yesNo = {false};  // "No": show the save dialog again
    ASSERT_TRUE(run.Start(view));
    TickToEnd();
    EXPECT_EQ(view.shownPaths,
              (std::vector<std::string>{"C:\\earlier\\wall.bmp", "C:\\chosen\\abc", "C:\\chosen\\abc"}));
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message, "処理を中止しますか？");
    EXPECT_EQ(view.boxes[0].caption, "保存ファイル名選択拒否");
    EXPECT_EQ(view.names, (std::vector<std::string>{"abc.bmp", "x.BMP"}));
    ExpectSameAsEngine(Input('D', 6), "abc.bmp", 200, 150);
    ExpectSameAsEngine(Input('D', 7), "x.BMP", 200, 150);
    std::remove("abc.bmp");
    std::remove("x.BMP");
}

TEST_F(BatchRunTest, GivingUpOnTheFirstNameClosesOnALaterOneFinishes) {
    conversionSettings.imageMask = 1 | 2;
    conversionSettings.outputName.clear();
    conversionSettings.outputDigitPos = -1;
    view.saveAnswers = {std::string("")};  // an empty name counts as cancelled
    view.yesNo = {true};
    EXPECT_FALSE(run.Start(view));
    EXPECT_EQ(view.boxes.size(), 1u);
    ASSERT_NE(run.currentJob, nullptr);  // constructed, never begun: no file
    EXPECT_EQ(run.currentJob->outHandle, platform::kInvalidFile);

    RecordingView second;
    second.saveAnswers = {std::string("first"), std::nullopt};
    second.yesNo = {true};
    ASSERT_TRUE(run.Start(second));
    int ticks = 0;
    while (run.OnTick(second) != BatchRun::Tick::kFinished && ++ticks < 1000) {
    }
    EXPECT_EQ(second.finished, 1);
    EXPECT_TRUE(OnDisk("first.bmp"));
    EXPECT_EQ(second.names.size(), 1u);
    std::remove("first.bmp");
}

TEST_F(BatchRunTest, CroppedRunsFillTheSizeAsConvertFitCoverDoes) {
    // The pictures are 48 x 36 (4:3). Each size is converted with the box
    // checked, without a notice, and must be the reference conversion of the
    // picture's centred part with the size's proportions.
    const struct {
        int w, h;
    } sizes[] = {{1920, 1080}, {1080, 1920}, {400, 300}, {301, 1000}};
    for (const auto& size : sizes) {
        RecordingView each;
        conversionSettings.imageMask = 1 | 16;
        conversionSettings.cropToAspect = true;
        conversionSettings.width = size.w;
        conversionSettings.height = size.h;
        conversionSettings.colorMode = 24;
        ASSERT_TRUE(run.Start(each)) << size.w << "x" << size.h;
        while (run.OnTick(each) != BatchRun::Tick::kFinished) {
        }
        run.Close();
        EXPECT_TRUE(each.boxes.empty()) << size.w << "x" << size.h;
        EXPECT_EQ(conversionSettings.width, size.w);
        for (int n : {6, 10}) {
            const test::Picture crop = test::Cropped(
                pictures[n], test::ReferenceCoverCrop(kInW, kInH, size.w, size.h));
            EXPECT_TRUE(test::ReadBytes(Out(n)) ==
                        test::ReferenceBmp(crop, conversionSettings.exponent, size.w, size.h, 24))
                << n << " at " << size.w << "x" << size.h;
        }
    }
}

TEST_F(BatchRunTest, CroppedSizesBeyondTheLimitsAreCorrectedOnceWithTheirNotice) {
    const struct {
        int w, h, wantW, wantH;
        const char* notice;
    } cases[] = {
        {3840, 2160, 3840, 2160, nullptr},
        {7681, 4320, 7680, 4319, "出力画像が大きすぎますので、次の通り\n修正します。\n  幅 : 7680 Pixel / 高さ : 4319 Pixel"},
        {100, 100, 200, 150, "出力画像が小さすぎますので、次の通り\n修正します。\n  幅 : 200 Pixel / 高さ : 150 Pixel"},
    };
    for (const auto& c : cases) {
        RecordingView each;
        conversionSettings.imageMask = 1 | 2;
        conversionSettings.cropToAspect = true;
        conversionSettings.width = c.w;
        conversionSettings.height = c.h;
        ASSERT_TRUE(run.Start(each));
        ASSERT_EQ(each.boxes.size(), c.notice ? 1u : 0u) << c.w << "x" << c.h;
        if (c.notice) {
            EXPECT_EQ(each.boxes[0].message, c.notice);
            EXPECT_EQ(each.boxes[0].caption, "縦横修正の通知");
        }
        // The job in hand was begun at the corrected size, cut to its shape.
        const WPConvert& job = *run.currentJob;
        EXPECT_EQ(job.width, static_cast<std::uint32_t>(c.wantW));
        EXPECT_EQ(job.height, static_cast<std::uint32_t>(c.wantH));
        const test::Crop want = test::ReferenceCoverCrop(kInW, kInH, c.wantW, c.wantH);
        EXPECT_EQ(job.source.left, want.left);
        EXPECT_EQ(job.source.top, want.top);
        EXPECT_EQ(job.source.width, want.width);
        EXPECT_EQ(job.source.height, want.height);
        run.Close();
    }
}

TEST_F(BatchRunTest, UncheckedTheSizeIsMade4To3AndTheWholePictureConverted) {
    conversionSettings.imageMask = 1;
    conversionSettings.cropToAspect = false;
    conversionSettings.width = 1920;
    conversionSettings.height = 1080;
    ASSERT_TRUE(run.Start(view));
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].message, SizeNoticeText(SizeNotice::kAspect, 1440, 1080));
    TickToEnd();
    ExpectSameAsEngine(Input('D', 6), Out(6), 1440, 1080);
}

TEST_F(BatchRunTest, EachTickConvertsRowsUntilItsBudgetIsSpent) {
    // A clock that moves 1 ms per reading, and 50 ms for one slow row.
    std::int64_t now = 0, slowAt = -1;
    run.clock = [&] {
        now += (now == slowAt) ? 50 : 1;
        return std::chrono::milliseconds(now);
    };
    run.tickBudget = std::chrono::milliseconds(8);
    conversionSettings.imageMask = 1 | 2 | 8;
    ASSERT_TRUE(run.Start(view));
    ASSERT_EQ(run.currentJob->linesDone, 1u);
    // Read at the start and after each row: 8 rows, one percentage per tick.
    ASSERT_EQ(run.OnTick(view), BatchRun::Tick::kGoesOn);
    EXPECT_EQ(run.currentJob->linesDone, 9u);
    EXPECT_EQ(view.percents, (std::vector<unsigned>{0, 6}));  // 9 of 150 rows
    // A slow row ends its tick at once.
    slowAt = now + 2;
    ASSERT_EQ(run.OnTick(view), BatchRun::Tick::kGoesOn);
    EXPECT_EQ(run.currentJob->linesDone, 11u);
    slowAt = -1;
    // The other 139 rows take 18 ticks; the one that writes the last row
    // begins the next picture and stops there.
    int ticks = 0;
    while (conversionSettings.inputPath == "D/Extends/Sg006.rq6") {
        ASSERT_EQ(run.OnTick(view), BatchRun::Tick::kGoesOn);
        ++ticks;
    }
    EXPECT_EQ(ticks, 18);
    EXPECT_EQ(run.currentJob->linesDone, 1u);
    EXPECT_EQ(view.names.back(), "ORVSg007.bmp");
    // Abort between ticks: the picture in hand goes, the finished one stays.
    ASSERT_EQ(run.OnTick(view), BatchRun::Tick::kGoesOn);
    ASSERT_TRUE(OnDisk(run.temporaryPath));
    run.Abort(view);
    EXPECT_EQ(run.currentJob, nullptr);
    EXPECT_FALSE(OnDisk(Out(7)));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(run.OnTick(view), BatchRun::Tick::kIgnored);
    ExpectSameAsEngine(Input('D', 6), Out(6), 200, 150);
}

}  // namespace
