// The real Tavrel.exe, started as a user starts it and driven through its
// windows from this separate process: a batch run of two pictures from the
// CD-ROM drive D: with the defaults on a full-HD screen, whose BMP files must
// be wallpapers that fill the screen, byte for byte the independent reference
// conversion of each picture's centred 16:9 part. In a prefix without such a
// drive: the request for a folder at start, and a folder given on the
// command line, down to the desktop's wallpaper.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bench/program_driver_win.h"
#include "engine/disc_pictures.h"
#include "formats/rq6_writer.h"
#include "gtest/gtest.h"
#include "platform/utf8_win.h"
#include "resources/resource.h"
#include "samples/sample_disc.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

using remote::Click;
using remote::Enabled;
using remote::ItemText;
using remote::PostClick;
using remote::Program;

std::wstring W(const std::string& s) { return platform::Utf8ToWide(s.c_str()); }
std::string U(const std::wstring& s) { return platform::WideToUtf8(s.c_str()); }

std::vector<std::uint8_t> ReadAll(const std::wstring& path) { return test::ReadBytes(U(path)); }

const std::wstring kProgram = W(TAVREL_EXE);

// A sample picture at 640 x 480 (4:3), as the test draws it.
test::Picture SamplePicture(int n) {
    test::Picture picture{640, 480, {}};
    picture.bgr.resize(std::size_t{3} * 640 * 480);
    for (std::uint32_t y = 0; y < 480; ++y) rq6::SampleRow(n, 640, 480, y, &picture.bgr[3 * 640 * y]);
    return picture;
}

TEST(EndToEnd, TheDefaultsMakeWallpapersThatFillTheScreen) {
    // Each Windows build drives its own program; the log says which one ran.
    std::printf("driving the %d-bit %s\n", static_cast<int>(sizeof(void*) * 8), TAVREL_EXE);
    ASSERT_EQ(GetDriveTypeW(L"D:\\"), static_cast<UINT>(DRIVE_CDROM));
    DEVMODEW screen{};
    screen.dmSize = sizeof screen;
    ASSERT_TRUE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &screen));
    ASSERT_EQ(screen.dmPelsWidth, 1920u) << "the test display must be full HD";
    ASSERT_EQ(screen.dmPelsHeight, 1080u);
    CreateDirectoryW(L"D:\\Extends", nullptr);
    test::Picture pictures[11];
    for (int n : {6, 10}) {
        pictures[n] = SamplePicture(n);
        test::WritePicture("D:\\Extends\\" + disc::PictureFileName(n), pictures[n],
                           rq6::SampleComment(n));
    }
    wchar_t windowsDir[MAX_PATH];
    GetWindowsDirectoryW(windowsDir, MAX_PATH);
    const std::wstring out6 = std::wstring(windowsDir) + L"\\Orvane_Sg006.bmp";
    const std::wstring out10 = std::wstring(windowsDir) + L"\\Orvane_Sg010.bmp";
    DeleteFileW(out6.c_str());
    DeleteFileW(out10.c_str());

    Program program(kProgram);
    ASSERT_TRUE(program.Started());
    HWND settings = program.WaitForDialog("設定");
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(ItemText(settings, IDC_DRIVE_TEXT), "D:");
    EXPECT_EQ(ItemText(settings, IDC_EXPONENT), "1.000");
    EXPECT_FALSE(Enabled(settings, IDOK));
    // The defaults: the screen's own size, cropped to fit, in full colour.
    EXPECT_EQ(SendDlgItemMessageW(settings, IDC_SIZE_CUSTOM, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(ItemText(settings, IDC_CUSTOM_WIDTH), "1920");
    EXPECT_EQ(ItemText(settings, IDC_CUSTOM_HEIGHT), "1080");
    EXPECT_EQ(SendDlgItemMessageW(settings, IDC_CROP_TO_ASPECT, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendDlgItemMessageW(settings, IDC_MODE_FULL, BM_GETCHECK, 0, 0), BST_CHECKED);

    // The drive dialog: pick E:, then D: again.
    for (int drive : {4, 3}) {
        PostClick(settings, IDC_DRIVE_SELECT);
        HWND dlg = program.WaitForDialog("ドライブの選択");
        ASSERT_NE(dlg, nullptr);
        for (int i = 0; i < 26; ++i) EXPECT_EQ(Enabled(dlg, 256 + i), i == 3 || i == 4) << i;
        Click(dlg, 256 + drive);
        PostClick(dlg, IDOK);
        const std::string want = drive == 4 ? "E:" : "D:";
        for (int i = 0; i < 200 && ItemText(settings, IDC_DRIVE_TEXT) != want; ++i) Sleep(20);
        EXPECT_EQ(ItemText(settings, IDC_DRIVE_TEXT), want);
    }

    Click(settings, IDC_PICTURE_FIRST);  // Sg006
    Click(settings, IDC_PICTURE_LAST);   // Sg010
    ASSERT_TRUE(Enabled(settings, IDOK));
    const Program::Batch batch = program.RunBatch(settings);
    ASSERT_TRUE(batch.finished);
    HWND progress = batch.progress;
    // A figure for the log, not a limit: the machine may be busy.
    std::printf("two 1920 x 1080 wallpapers in %.2f s, from the click to the end\n", batch.seconds);
    EXPECT_TRUE(batch.boxes.empty()) << batch.boxes.front().first << ": " << batch.boxes.front().second;
    EXPECT_EQ(ItemText(progress, IDC_PERCENT), "100");
    EXPECT_EQ(ItemText(progress, IDC_IN_DRIVE), "D:");
    EXPECT_EQ(ItemText(progress, IDC_OUT_FILE), "Orvane_Sg010.bmp");
    EXPECT_EQ(ItemText(progress, IDC_COMMENT), "夕暮れの風景");
    EXPECT_EQ(W(ItemText(progress, IDC_OUT_DIR)), std::wstring(windowsDir));
    PostClick(progress, IDOK);
    for (int i = 0; i < 200 && IsWindow(progress); ++i) Sleep(20);
    EXPECT_FALSE(IsWindow(progress));

    // "終了" ends the program with exit code 0.
    PostClick(settings, IDCANCEL);
    EXPECT_EQ(program.WaitForExit(20000), 0);

    const test::Crop crop = test::ReferenceCoverCrop(640, 480, 1920, 1080);
    EXPECT_EQ(crop.height, 360u);
    for (const auto& [n, path] : {std::pair{6, out6}, {10, out10}}) {
        const std::vector<std::uint8_t> bytes = ReadAll(path);
        EXPECT_EQ(bytes.size(), 54u + 1920u * 3u * 1080u) << n;
        EXPECT_TRUE(bytes == test::ReferenceBmp(test::Cropped(pictures[n], crop), 1.0, 1920, 1080, 24))
            << "Sg0" << n;
        DeleteFileW(path.c_str());
    }
}

// Runs in a prefix without any CD-ROM, network or RAM drive.
void ExpectNoDrive() {
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        wchar_t device[MAX_PATH] = {};
        const wchar_t name[] = {letter, L':', 0};
        QueryDosDeviceW(name, device, MAX_PATH);
        ASSERT_EQ(GetDriveTypeW(root) & 4, 0u)
            << static_cast<char>(letter) << ": type " << GetDriveTypeW(root) << ", " << U(device);
    }
}

// Started with nothing: the program says so, asks for the folder, and ends
// only when the user declines.
TEST(NoDrive, TheProgramAsksForTheFolderAndEndsWhenDeclined) {
    ExpectNoDrive();
    Program program(kProgram);
    ASSERT_TRUE(program.Started());
    HWND box = program.WaitForDialog("CDドライブ検出失敗");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemText(box, 0xFFFF),
              "有効なCDドライブが検出できませんでした。\n"
              "画像 (Sg006.rq6 ～ Sg010.rq6) の入ったフォルダを選んでください。");
    EXPECT_EQ(program.WaitForDialog("設定", 0), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    HWND picker = program.WaitForDialog("画像の入ったフォルダの選択");
    ASSERT_NE(picker, nullptr);
    PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(program.WaitForExit(20000), 0);
}

// Started with a folder whose name is Japanese (as Explorer passes it): the
// settings dialog at once, and wallpapers from the folder's pictures. A
// damaged picture leaves the wallpaper of its name as it was, and the last
// picture written becomes the desktop's wallpaper.
TEST(NoDrive, AFolderOnTheCommandLineGivesWallpapersAndTheLastOneIsSet) {
    ExpectNoDrive();
    DEVMODEW screen{};
    screen.dmSize = sizeof screen;
    ASSERT_TRUE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &screen));
    ASSERT_EQ(screen.dmPelsWidth, 1920u) << "the test display must be full HD";
    wchar_t here[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, here);
    // 山田\壁紙 with the disc's Extends folder.
    const std::wstring parent = std::wstring(here) + L"\\\u5C71\u7530";
    const std::wstring folder = parent + L"\\\u58C1\u7D19";
    CreateDirectoryW(parent.c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Extends").c_str(), nullptr);
    test::Picture pictures[11];
    for (int n : {6, 7, 8}) {
        pictures[n] = SamplePicture(n);
        test::WritePicture(U(folder) + "\\Extends\\" + disc::PictureFileName(n), pictures[n],
                           rq6::SampleComment(n));
    }
    // Sg008 is cut in the middle of its rows.
    const std::string damaged = U(folder) + "\\Extends\\Sg008.rq6";
    std::vector<std::uint8_t> bytes = test::ReadBytes(damaged);
    bytes.resize(bytes.size() / 2);
    test::WriteRaw(damaged, bytes);

    wchar_t windowsDir[MAX_PATH];
    GetWindowsDirectoryW(windowsDir, MAX_PATH);
    auto out = [&](int n) { return std::wstring(windowsDir) + L"\\Orvane_Sg00" + std::to_wstring(n) + L".bmp"; };
    DeleteFileW(out(6).c_str());
    DeleteFileW(out(7).c_str());
    const std::vector<std::uint8_t> oldWallpaper = {'B', 'M', 'o', 'l', 'd'};
    test::WriteRaw(U(out(8)), oldWallpaper);

    Program program(kProgram, L"\"" + folder + L"\"");
    ASSERT_TRUE(program.Started());
    HWND settings = program.WaitForDialog("設定");
    ASSERT_NE(settings, nullptr);
    for (HWND w : program.Dialogs()) EXPECT_EQ(w, settings) << "a message at start: " << remote::Caption(w);
    EXPECT_EQ(W(ItemText(settings, IDC_DRIVE_TEXT)), folder);
    for (int id : {277, 278, 279}) Click(settings, id);
    const Program::Batch batch = program.RunBatch(settings);
    ASSERT_TRUE(batch.finished);
    HWND progress = batch.progress;
    ASSERT_EQ(batch.boxes.size(), 1u);
    EXPECT_EQ(batch.boxes[0].first, "変換エラー");
    EXPECT_EQ(W(ItemText(progress, IDC_IN_DRIVE)), folder);
    ASSERT_TRUE(Enabled(progress, IDC_SET_WALLPAPER));
    Click(progress, IDC_SET_WALLPAPER);
    EXPECT_EQ(ItemText(progress, IDC_STATUS_LINE), "壁紙に設定しました。");
    PostClick(progress, IDOK);
    for (int i = 0; i < 200 && IsWindow(progress); ++i) Sleep(20);
    PostClick(settings, IDCANCEL);
    EXPECT_EQ(program.WaitForExit(20000), 0);

    auto value = [](const wchar_t* name) {
        wchar_t data[MAX_PATH] = {};
        DWORD size = sizeof data;
        const LSTATUS r = RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", name,
                                       RRF_RT_REG_SZ, nullptr, data, &size);
        return r == ERROR_SUCCESS ? std::wstring(data) : L"(missing)";
    };
    EXPECT_EQ(CompareStringOrdinal(value(L"Wallpaper").c_str(), -1, out(7).c_str(), -1, TRUE), CSTR_EQUAL)
        << U(value(L"Wallpaper"));
    EXPECT_EQ(value(L"WallpaperStyle"), L"10");
    EXPECT_EQ(value(L"TileWallpaper"), L"0");

    const test::Crop crop = test::ReferenceCoverCrop(640, 480, 1920, 1080);
    for (int n : {6, 7}) {
        EXPECT_TRUE(ReadAll(out(n)) == test::ReferenceBmp(test::Cropped(pictures[n], crop), 1.0, 1920, 1080, 24))
            << "Sg00" << n;
        DeleteFileW(out(n).c_str());
    }
    EXPECT_TRUE(ReadAll(out(8)) == oldWallpaper);
    WIN32_FIND_DATAW found;
    HANDLE left = FindFirstFileW((std::wstring(windowsDir) + L"\\*.tavrel-*").c_str(), &found);
    EXPECT_EQ(left, INVALID_HANDLE_VALUE) << "a temporary was left: " << U(found.cFileName);
    if (left != INVALID_HANDLE_VALUE) FindClose(left);
    DeleteFileW(out(8).c_str());
}

}  // namespace
