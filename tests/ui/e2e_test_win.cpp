// The real Tavrel.exe, started as a user starts it and driven through its
// windows from this separate process: a batch run of two pictures from the
// CD-ROM drive D:, whose BMP files must be byte for byte what the conversion
// engine writes for the same settings (the engine calls of `tavrel convert`).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/gamma_table.h"
#include "gtest/gtest.h"
#include "platform/utf8_win.h"
#include "resources/resource.h"
#include "tests/engine/test_support.h"
#include "formats/rq6_writer.h"
#include "samples/sample_disc.h"

namespace {

std::wstring W(const std::string& s) { return platform::Utf8ToWide(s.c_str()); }
std::string U(const std::wstring& s) { return platform::WideToUtf8(s.c_str()); }

std::string Caption(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);  // answered by the other process
    return U(text);
}

std::string ItemText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    SendDlgItemMessageW(dialog, id, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return U(text);
}

// The program being driven.
class Program {
public:
    explicit Program(const std::wstring& exe) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring commandLine = L"\"" + exe + L"\"";
        started_ = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &si, &pi_) != FALSE;
    }
    ~Program() {
        if (!started_) return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    bool Started() const { return started_; }

    // The program's top-level dialog with this caption, waiting for it to appear.
    HWND WaitForDialog(const std::string& caption, DWORD milliseconds = 20000) {
        const DWORD start = GetTickCount();
        do {
            for (HWND w : Dialogs()) {
                if (Caption(w) == caption && IsWindowVisible(w)) return w;
            }
            Sleep(20);
        } while (GetTickCount() - start < milliseconds);
        return nullptr;
    }

    std::vector<HWND> Dialogs() {
        Found found{pi_.dwProcessId, {}};
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
        return found.windows;
    }

    // Exit code once the process has ended, or -1 on timeout.
    long WaitForExit(DWORD milliseconds) {
        if (WaitForSingleObject(pi_.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    struct Found {
        DWORD pid;
        std::vector<HWND> windows;
    };
    static BOOL CALLBACK Collect(HWND w, LPARAM p) {
        auto* f = reinterpret_cast<Found*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        wchar_t cls[16] = {};
        GetClassNameW(w, cls, 16);
        if (pid == f->pid && std::wstring(cls) == L"#32770") f->windows.push_back(w);
        return TRUE;
    }

    PROCESS_INFORMATION pi_{};
    bool started_ = false;
};

// Clicks that may open a modal dialog are posted, so this process never waits
// on the program's nested message loops.
void PostClick(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

std::vector<std::uint8_t> ReadAll(const std::wstring& path) { return test::ReadBytes(U(path)); }

// What `tavrel convert` writes for the same settings: the same engine calls.
std::vector<std::uint8_t> EngineBytes(const std::string& input, double exponent, int w, int h,
                                      int mode) {
    return test::ConvertedBytes(input, exponent, static_cast<std::uint32_t>(w),
                                static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(mode));
}

const std::wstring kProgram = W(TAVREL_EXE);

TEST(EndToEnd, TwoPicturesFromTheCdRomDriveAsTheEngineWritesThem) {
    // Each Windows build drives its own program; the log says which one ran.
    std::printf("driving the %d-bit %s\n", static_cast<int>(sizeof(void*) * 8), TAVREL_EXE);
    ASSERT_EQ(GetDriveTypeW(L"D:\\"), static_cast<UINT>(DRIVE_CDROM));
    CreateDirectoryW(L"D:\\Extends", nullptr);
    for (int n : {6, 10}) {
        const std::string path = "D:\\Extends\\Sg0" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ".rq6";
        ASSERT_TRUE(rq6::WriteRq6File(path.c_str(), 320, 240, rq6::SampleComment(n),
                                      [n](std::uint32_t y, std::uint16_t* bgr) {
                                          rq6::SampleRow(n, 320, 240, y, bgr);
                                      }));
    }
    wchar_t windowsDir[MAX_PATH];
    GetWindowsDirectoryW(windowsDir, MAX_PATH);
    const std::wstring out6 = std::wstring(windowsDir) + L"\\ORVSg006.bmp";
    const std::wstring out10 = std::wstring(windowsDir) + L"\\ORVSg010.bmp";
    DeleteFileW(out6.c_str());
    DeleteFileW(out10.c_str());

    Program program(kProgram);
    ASSERT_TRUE(program.Started());
    HWND settings = program.WaitForDialog("設定");
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(ItemText(settings, IDC_DRIVE_TEXT), "D:");
    EXPECT_EQ(ItemText(settings, IDC_MODE_FULL), "24bit (フルカラー16'777'216色)");
    EXPECT_EQ(ItemText(settings, IDC_EXPONENT), "1.000");
    EXPECT_FALSE(Enabled(settings, IDOK));

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

    // Contrast: two pages to the right (position 160), as the keyboard does it.
    HWND trackbar = GetDlgItem(settings, IDC_CONTRAST);
    SendMessageW(trackbar, WM_KEYDOWN, VK_NEXT, 0);
    SendMessageW(trackbar, WM_KEYDOWN, VK_NEXT, 0);
    EXPECT_EQ(SendMessageW(trackbar, TBM_GETPOS, 0, 0), 160);
    const double exponent = ContrastTable().exponent[160];
    char shown[16];
    std::snprintf(shown, sizeof shown, "%1.3f", exponent);
    EXPECT_EQ(ItemText(settings, IDC_EXPONENT), shown);

    Click(settings, IDC_PICTURE_FIRST);      // Sg006
    Click(settings, IDC_PICTURE_LAST);       // Sg010
    Click(settings, IDC_SIZE_CUSTOM);
    SendDlgItemMessageW(settings, IDC_CUSTOM_WIDTH, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"300"));
    SendDlgItemMessageW(settings, IDC_CUSTOM_HEIGHT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"200"));
    Click(settings, IDC_MODE_COLOR256);
    Click(settings, IDC_NAME_SHORT);
    ASSERT_TRUE(Enabled(settings, IDOK));
    PostClick(settings, IDOK);

    // Answer every message box; wait for the run to finish.
    std::vector<std::pair<std::string, std::string>> boxes;
    HWND progress = nullptr;
    const DWORD start = GetTickCount();
    bool finished = false;
    while (!finished && GetTickCount() - start < 60000) {
        for (HWND w : program.Dialogs()) {
            if (!IsWindowVisible(w)) continue;
            if (GetDlgItem(w, 256) == nullptr && GetDlgItem(w, 0xFFFF) != nullptr) {
                const auto box = std::make_pair(Caption(w), ItemText(w, 0xFFFF));
                if (boxes.empty() || boxes.back() != box) boxes.push_back(box);
                PostMessageW(w, WM_COMMAND, IDOK, 0);
            } else if (Caption(w) == "変換中") {
                progress = w;
                finished = ItemText(w, IDC_STATUS_LINE) == "完了しました。";
            }
        }
        Sleep(20);
    }
    ASSERT_TRUE(finished);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "縦横比修正の通知");
    EXPECT_EQ(boxes[0].second,
              "出力画像の縦横比は、4:3でなくては\nなりませんので、次の通り修正します。\n  幅 : 264 Pixel / 高さ : 198 Pixel");
    EXPECT_EQ(ItemText(progress, IDC_PERCENT), "100");
    EXPECT_EQ(ItemText(progress, IDC_IN_DRIVE), "D:");
    EXPECT_EQ(ItemText(progress, IDC_OUT_FILE), "ORVSg010.bmp");
    EXPECT_EQ(ItemText(progress, IDC_COMMENT), "夕暮れの風景");
    EXPECT_EQ(W(ItemText(progress, IDC_OUT_DIR)), std::wstring(windowsDir));
    PostClick(progress, IDOK);
    for (int i = 0; i < 200 && IsWindow(progress); ++i) Sleep(20);
    EXPECT_FALSE(IsWindow(progress));

    // "終了" ends the program with exit code 0.
    PostClick(settings, IDCANCEL);
    EXPECT_EQ(program.WaitForExit(20000), 0);

    EXPECT_TRUE(ReadAll(out6) == EngineBytes("D:\\Extends\\Sg006.rq6", exponent, 264, 198, 8));
    EXPECT_TRUE(ReadAll(out10) == EngineBytes("D:\\Extends\\Sg010.rq6", exponent, 264, 198, 8));
    EXPECT_EQ(ReadAll(out6).size(), 54u + 1024u + 198u * 264u);
    DeleteFileW(out6.c_str());
    DeleteFileW(out10.c_str());
}

// Run in a prefix without any CD-ROM, network or RAM drive.
TEST(NoDrive, TheProgramSaysSoAndEnds) {
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        wchar_t device[MAX_PATH] = {};
        const wchar_t name[] = {letter, L':', 0};
        QueryDosDeviceW(name, device, MAX_PATH);
        ASSERT_EQ(GetDriveTypeW(root) & 4, 0u)
            << static_cast<char>(letter) << ": type " << GetDriveTypeW(root) << ", " << U(device);
    }
    Program program(kProgram);
    ASSERT_TRUE(program.Started());
    HWND box = program.WaitForDialog("CDドライブ検出失敗");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemText(box, 0xFFFF), "有効なCDドライブが検出できませんでした。");
    EXPECT_EQ(program.WaitForDialog("設定", 0), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.WaitForExit(20000), 0);
}

}  // namespace
