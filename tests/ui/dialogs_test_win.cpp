// The real dialogs from the real templates, driven as a user drives them:
// clicks, trackbar messages, timer ticks, the save dialog, and every message
// box recorded and answered. Runs under Wine in a prefix where E: is a CD-ROM
// drive holding small pictures that this program writes first.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "engine/conversion_status.h"
#include "engine/disc_pictures.h"
#include "gtest/gtest.h"
#include "resources/resource.h"
#include "tavrel_version.h"
#include "tests/engine/test_support.h"
#include "tests/platform/file_faults.h"
#include "tests/ui/dialog_driver_win.h"
#include "formats/rq6_writer.h"
#include "samples/sample_disc.h"
#include "ui/batch_run.h"
#include "ui/dialogs_win.h"
#include "ui/main_window_win.h"
#include "ui/preview.h"
#include "ui/records.h"
#include "ui/settings_logic.h"
#include "ui/ui_text.h"
#include "ui/win_util_win.h"

namespace {

constexpr std::uint32_t kInW = 64, kInH = 48;
const std::string kDisc = "E:\\Extends\\";

std::string InputOn(int n) { return kDisc + disc::PictureFileName(n); }

std::string FormatExponentForTest(int position) {
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", std::pow(2.5, (position - 128) / 128.0));
    return text;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// True when nobody holds the file open (the engine opens files exclusively).
bool Released(const std::string& path) {
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

std::wstring W(const std::string& utf8) { return Wide(utf8); }

// A file a run must not lose: the user's wallpaper of the same name.
const std::vector<std::uint8_t> kOldWallpaper = {'B', 'M', 'o', 'l', 'd'};
void WriteOld(const std::string& path) { ASSERT_TRUE(rq6::WriteBytes(path.c_str(), kOldWallpaper)); }
bool IsOld(const std::string& path) { return test::ReadBytes(path) == kOldWallpaper; }

// The temporary files runs have left in the current folder.
std::vector<std::string> Temporaries() {
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        const std::string name = entry.path().filename().u8string();
        if (name.find(".tavrel-") != std::string::npos) left.push_back(name);
    }
    return left;
}

// What `tavrel convert` writes for the same settings: the same engine calls.
std::vector<std::uint8_t> EngineBytes(const std::string& input, double exponent, int w, int h,
                                      int mode) {
    return test::ConvertedBytes(input, exponent, static_cast<std::uint32_t>(w),
                                static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(mode));
}

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        programInstance = GetModuleHandleW(nullptr);
        ASSERT_TRUE(InitCommonControlClasses());
        ASSERT_EQ(GetDriveTypeW(L"E:\\"), static_cast<UINT>(DRIVE_CDROM))
            << "E: must be a CD-ROM drive (scripts/wine-cdrom-prefix.sh)";
        CreateDirectoryW(Wide(kDisc).c_str(), nullptr);
        auto rows = [](int n) {
            return [n](std::uint32_t y, std::uint16_t* bgr) { rq6::SampleRow(n, kInW, kInH, y, bgr); };
        };
        for (int n : {6, 9, 10}) {
            ASSERT_TRUE(rq6::WriteRq6File(InputOn(n).c_str(), kInW, kInH, rq6::SampleComment(n), rows(n)));
        }
        // A comment that fills all 128 bytes, without a terminator: 64 x "あ".
        rq6::PayloadFields full;
        std::string raw;
        for (int i = 0; i < 64; ++i) raw += "\x82\xA0";
        full.rawComment = raw;
        ASSERT_TRUE(rq6::WriteRq6File(InputOn(7).c_str(), kInW, kInH, "", rows(7), full));
        DeleteFileW(Wide(InputOn(8)).c_str());  // picture 8 is missing
        // Picture 9 is damaged: cut in the middle of its rows.
        auto bytes = test::ReadBytes(InputOn(9));
        bytes.resize(bytes.size() * 2 / 3);
        ASSERT_TRUE(rq6::WriteBytes(InputOn(9).c_str(), bytes));
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

// ---------------------------------------------------------------------------
// Resources.

struct Item {
    int id;
    std::string text;
    short x, y, cx, cy;
};

// Reads a classic dialog template: header fields and each item's id, text
// and rectangle (the class and creation data are skipped).
struct Template {
    DWORD style = 0, exStyle = 0;
    short cx = 0, cy = 0;
    std::string caption, font;
    WORD pointSize = 0;
    std::vector<Item> items;
    std::vector<DWORD> itemStyles;
    std::vector<std::wstring> itemClasses;
};

const WORD* ReadSzOrOrd(const WORD* p, std::wstring* text, WORD* ordinal = nullptr) {
    if (*p == 0xFFFF) {
        if (ordinal) *ordinal = p[1];
        return p + 2;
    }
    std::wstring s;
    while (*p) s += static_cast<wchar_t>(*p++);
    if (text) *text = s;
    return p + 1;
}

Template LoadTemplate(int id) {
    Template t;
    HRSRC res = FindResourceW(programInstance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    EXPECT_NE(res, nullptr) << id;
    if (!res) return t;
    const auto* dt = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(programInstance, res)));
    t.style = dt->style;
    t.exStyle = dt->dwExtendedStyle;
    t.cx = dt->cx;
    t.cy = dt->cy;
    auto p = reinterpret_cast<const WORD*>(dt + 1);
    p = ReadSzOrOrd(p, nullptr);  // menu
    p = ReadSzOrOrd(p, nullptr);  // class
    std::wstring s;
    p = ReadSzOrOrd(p, &s);
    t.caption = Utf8(s);
    if (t.style & DS_SETFONT) {
        t.pointSize = *p++;
        p = ReadSzOrOrd(p, &s);
        t.font = Utf8(s);
    }
    for (int i = 0; i < dt->cdit; ++i) {
        p = reinterpret_cast<const WORD*>((reinterpret_cast<std::uintptr_t>(p) + 3) & ~std::uintptr_t{3});
        const auto* it = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
        Item item{it->id, "", it->x, it->y, it->cx, it->cy};
        t.itemStyles.push_back(it->style);
        p = reinterpret_cast<const WORD*>(it + 1);
        std::wstring cls;
        WORD atom = 0;
        p = ReadSzOrOrd(p, &cls, &atom);
        if (atom == 0x80) cls = L"Button";
        if (atom == 0x81) cls = L"Edit";
        if (atom == 0x82) cls = L"Static";
        t.itemClasses.push_back(cls);
        p = ReadSzOrOrd(p, &s);
        item.text = Utf8(s);
        s.clear();
        const WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
        t.items.push_back(item);
    }
    return t;
}

void ExpectItems(const Template& t, const std::vector<Item>& want) {
    ASSERT_EQ(t.items.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        const Item& a = t.items[i];
        const Item& b = want[i];
        EXPECT_EQ(a.id, b.id) << i;
        EXPECT_EQ(a.text, b.text) << i;
        EXPECT_EQ((std::vector<int>{a.x, a.y, a.cx, a.cy}), (std::vector<int>{b.x, b.y, b.cx, b.cy}))
            << i << " " << b.text;
        EXPECT_TRUE(t.itemStyles[i] & WS_CHILD) << i;
        EXPECT_TRUE(t.itemStyles[i] & WS_VISIBLE) << i;
    }
}

TEST(Templates, SettingsDialog) {
    const Template t = LoadTemplate(IDD_SETTINGS);
    EXPECT_EQ(t.caption, "設定");
    EXPECT_EQ(t.font, "ＭＳ Ｐゴシック");
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.cx, 320);
    EXPECT_EQ(t.cy, 250);
    EXPECT_EQ(t.style, static_cast<DWORD>(WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                          DS_MODALFRAME | DS_SETFONT | DS_3DLOOK));
    EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_DLGMODALFRAME));
    ExpectItems(t, {
        {256, "IDB_CONTIMAGE", 4, 4, 312, 64}, {257, "", 32, 72, 256, 16},
        {258, "1.000", 288, 76, 20, 12}, {65535, "明", 32, 88, 12, 12},
        {65535, "コントラスト", 132, 88, 56, 8}, {65535, "暗", 276, 88, 12, 12},
        {65535, "画像サイズ", 8, 108, 72, 12}, {259, "640 x 480", 8, 120, 48, 12},
        {260, "800 x 600", 56, 120, 48, 12}, {261, "1'024 x 768", 8, 132, 48, 12},
        {262, "1'152 x 864", 56, 132, 48, 12}, {263, "1'280 x 960", 8, 144, 48, 12},
        {264, "1'280 x 1'024", 56, 144, 52, 12}, {265, "1'600 x 900", 8, 156, 48, 12},
        {266, "1'600 x 1'200", 56, 156, 52, 12}, {267, "任意", 8, 168, 32, 12},
        {268, "", 44, 168, 24, 12}, {65535, "x", 72, 170, 8, 8}, {269, "", 80, 168, 24, 12},
        {289, "切り抜いて縦横比を合わせる (&F)", 8, 182, 114, 12},
        {65535, "画像色数", 120, 108, 52, 12}, {270, " 1bit (白黒2色)", 124, 120, 106, 12},
        {271, " 4bit (グレースケール16色)", 124, 132, 106, 12},
        {272, " 4bit (システムカラー16色)", 124, 144, 106, 12},
        {273, " 8bit (グレースケール256色)", 124, 156, 106, 12},
        {274, " 8bit (カラー256色)", 124, 168, 106, 12},
        {275, "16bit (ハイカラー65'536色)", 124, 180, 106, 12},
        {276, "24bit (フルカラー16'777'216色)", 124, 192, 106, 12},
        {65535, "変換画像指定", 222, 108, 48, 12}, {277, "Sg00&6", 232, 120, 32, 12},
        {278, "Sg00&7", 232, 132, 32, 12}, {279, "Sg00&8", 232, 144, 32, 12},
        {280, "Sg00&9", 232, 156, 32, 12}, {281, "Sg0&10", 232, 168, 32, 12},
        {65535, "出力ファイル名", 8, 198, 48, 12}, {282, "ORVSg0??.bmp", 8, 210, 60, 12},
        {283, "Orvane_Sg0??.bmp", 8, 222, 92, 12}, {284, "個別に指定", 8, 234, 48, 12},
        {65535, "入力元", 124, 216, 24, 12}, {285, "D:", 124, 232, 138, 12},
        {286, "選択 (&S)", 226, 214, 36, 14}, {1, "変換開始 (&C)", 266, 160, 50, 14},
        {2, "終了 (&Q)", 266, 180, 50, 14}, {287, "規定値 (&D)", 266, 200, 50, 14},
        {288, "情報表示 (&A)", 266, 220, 50, 14},
    });
    EXPECT_EQ(_wcsicmp(t.itemClasses[1].c_str(), L"msctls_trackbar32"), 0);
    EXPECT_EQ(t.itemStyles[0] & SS_TYPEMASK, static_cast<DWORD>(SS_OWNERDRAW));
    EXPECT_TRUE(t.itemStyles[1] & TBS_NOTICKS);
    EXPECT_EQ(t.itemStyles[2] & (ES_READONLY | ES_RIGHT | WS_BORDER), static_cast<DWORD>(ES_READONLY | ES_RIGHT));
    EXPECT_EQ(t.itemStyles[16] & (ES_NUMBER | WS_BORDER | WS_DISABLED),
              static_cast<DWORD>(ES_NUMBER | WS_BORDER | WS_DISABLED));
    for (int group : {7, 19, 21, 29, 35, 41, 42, 43, 44}) EXPECT_TRUE(t.itemStyles[group] & WS_GROUP) << group;
    EXPECT_EQ(t.itemStyles[41] & (BS_TYPEMASK | WS_DISABLED), static_cast<DWORD>(BS_DEFPUSHBUTTON | WS_DISABLED));
    // The source, a drive or a folder's path, shortened in the middle to fit.
    EXPECT_EQ(_wcsicmp(t.itemClasses[39].c_str(), L"Static"), 0);
    EXPECT_EQ(t.itemStyles[39] & (SS_TYPEMASK | SS_ELLIPSISMASK | SS_NOPREFIX),
              static_cast<DWORD>(SS_LEFT | SS_PATHELLIPSIS | SS_NOPREFIX));
    for (int radio : {8, 15, 22, 27, 36, 37}) EXPECT_EQ(t.itemStyles[radio] & BS_TYPEMASK, static_cast<DWORD>(BS_AUTORADIOBUTTON));
    for (int box : {19, 29, 30, 31, 32, 33}) EXPECT_EQ(t.itemStyles[box] & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX));
}

TEST(Templates, ProgressDialog) {
    const Template t = LoadTemplate(IDD_PROGRESS);
    EXPECT_EQ(t.caption, "変換中");
    EXPECT_EQ(t.font, "ＭＳ Ｐゴシック");
    EXPECT_EQ(t.cx, 240);
    EXPECT_EQ(t.cy, 136);
    EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU |
                                          WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT |
                                          DS_3DLOOK | DS_SYSMODAL));
    ExpectItems(t, {
        {256, "変換中です。しばらくお待ちください・・・。", 4, 4, 232, 12}, {257, "", 4, 16, 232, 16},
        {259, "", 4, 36, 200, 12}, {258, "0", 208, 36, 24, 12}, {65535, "%", 232, 36, 4, 12},
        {65535, "入力元", 12, 52, 54, 12}, {260, "", 68, 52, 160, 12},
        {65535, "出力ディレクトリ", 12, 64, 54, 12}, {261, "", 68, 64, 160, 12},
        {65535, "出力ファイル", 12, 76, 54, 12}, {262, "", 68, 76, 160, 12},
        {65535, "出力サイズ", 12, 88, 54, 12}, {263, "0", 68, 88, 20, 12},
        {65535, "KByte", 88, 88, 28, 12}, {1, "確認 (&C)", 130, 116, 50, 14},
        {2, "強制終了 (&A)", 184, 116, 50, 14},
        {264, "終了時にこのダイアログを閉じる (&E)", 4, 100, 126, 12},
        {265, "壁紙に設定 (&W)", 64, 116, 62, 14},
    });
    EXPECT_EQ(_wcsicmp(t.itemClasses[1].c_str(), L"msctls_progress32"), 0);
    EXPECT_TRUE(t.itemStyles[14] & WS_DISABLED);
    EXPECT_EQ(t.itemStyles[16] & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX));
    EXPECT_EQ(t.itemStyles[17] & (BS_TYPEMASK | WS_DISABLED), static_cast<DWORD>(BS_PUSHBUTTON | WS_DISABLED));
    EXPECT_EQ(t.itemStyles[6] & (SS_TYPEMASK | SS_ELLIPSISMASK), static_cast<DWORD>(SS_LEFT | SS_PATHELLIPSIS));
}

TEST(Templates, DriveDialogAndAboutBox) {
    const Template d = LoadTemplate(IDD_DRIVE);
    EXPECT_EQ(d.caption, "ドライブの選択");
    EXPECT_EQ(d.cx, 192);
    EXPECT_EQ(d.cy, 72);
    EXPECT_TRUE(d.style & DS_CONTEXTHELP);
    EXPECT_EQ(d.exStyle, static_cast<DWORD>(WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP));
    std::vector<Item> want = {{1, "決定", 80, 52, 50, 14}, {2, "取消", 138, 52, 50, 14}};
    for (int i = 0; i < 26; ++i) {
        const short x = static_cast<short>(i < 9 ? 8 + 20 * i : i < 18 ? 12 + 20 * (i - 9) : 16 + 20 * (i - 18));
        const short y = static_cast<short>(i < 9 ? 8 : i < 18 ? 20 : 32);
        want.push_back({256 + i, std::string("&") + static_cast<char>('A' + i), x, y, 20, 12});
    }
    want.push_back({IDC_DRIVE_FOLDER, "フォルダ (&F)...", 8, 52, 64, 14});
    ExpectItems(d, want);
    for (int i = 2; i < 28; ++i) EXPECT_TRUE(d.itemStyles[i] & WS_DISABLED) << i;
    EXPECT_EQ(d.itemStyles[28] & (BS_TYPEMASK | WS_DISABLED | WS_TABSTOP),
              static_cast<DWORD>(BS_PUSHBUTTON | WS_TABSTOP));

    const Template a = LoadTemplate(IDD_ABOUT);
    EXPECT_EQ(a.caption, "About");
    EXPECT_EQ(a.cx, 192);
    EXPECT_EQ(a.cy, 120);
    ExpectItems(a, {{256, "", 28, 8, 156, 8}, {257, "", 52, 72, 132, 8},
                    {65535, "All rights reserved.", 116, 84, 68, 8}, {1, "了解 (&O)", 136, 100, 50, 14},
                    {65535, "IDI_AppIcon", 4, 4, 18, 21}});
    // The label under the first line is the notice's second line.
    const std::string notice = text::kLegalNotice;
    EXPECT_EQ(a.items[2].text, notice.substr(notice.find('\n') + 1));
}

// Whole text: every label fits its control, measured in the font the dialog
// really gets on this system (under Wine, the font set-up of the prefix).

INT_PTR CALLBACK InertDlgProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

struct Fit {
    std::string label;  // the control's id and text
    int need = 0, room = 0;
};

std::wstring WindowTextW(HWND control) {
    wchar_t text[512] = {};
    GetWindowTextW(control, text, 512);
    return text;
}

// Pixels the text takes on one line in the control's own font; '&' marks a
// mnemonic, not a character, except in edits.
SIZE TextExtent(HWND control, const std::wstring& text, bool prefix) {
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE | (prefix ? 0u : DT_NOPREFIX));
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return {r.right - r.left, r.bottom - r.top};
}

// The widths that a control's text needs and has, or nothing for controls
// without a text of their own (pictures, bars, edits the program fills with
// text of any length).
std::optional<Fit> Measure(HWND control, const std::wstring* runtimeText) {
    wchar_t cls[32] = {};
    GetClassNameW(control, cls, 32);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
    RECT client;
    GetClientRect(control, &client);
    const int width = client.right - client.left;
    const std::wstring text = runtimeText ? *runtimeText : WindowTextW(control);
    if (text.empty()) return std::nullopt;
    Fit fit;
    fit.label = std::to_string(GetDlgCtrlID(control)) + " \"" + Utf8(text) + "\"";
    if (_wcsicmp(cls, L"Static") == 0) {
        const DWORD type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_LEFTNOWORDWRAP &&
            type != SS_SIMPLE) {
            return std::nullopt;
        }
        const SIZE size = TextExtent(control, text, (style & SS_NOPREFIX) == 0);
        // A text taller than the control would be cut at the bottom.
        if (size.cy > client.bottom - client.top) fit.label += " (too tall)";
        fit.need = size.cx;
        fit.room = size.cy > client.bottom - client.top ? 0 : width;
        return fit;
    }
    if (_wcsicmp(cls, L"Button") == 0) {
        const DWORD type = style & BS_TYPEMASK;
        fit.need = TextExtent(control, text, true).cx;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
            // The raised edge takes two pixels on either side.
            fit.room = width - 2 * 2;
        } else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                   type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE) {
            // The box or circle is 13 pixels at 96 dpi, and the text starts
            // half a digit's width after it.
            HDC dc = GetDC(control);
            const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
            ReleaseDC(control, dc);
            const int box = 12 * dpi / 96 + 1;
            fit.room = width - box - TextExtent(control, L"0", false).cx / 2;

        } else {
            return std::nullopt;
        }
        return fit;
    }
    if (_wcsicmp(cls, L"Edit") == 0) {
        const auto margins = static_cast<DWORD>(SendMessageW(control, EM_GETMARGINS, 0, 0));
        fit.need = TextExtent(control, text, false).cx;
        fit.room = width - LOWORD(margins) - HIWORD(margins);
        return fit;
    }
    return std::nullopt;
}

// Every text control of the template, with the template's texts except where
// `runtime` gives the longest text the program puts there.
std::vector<Fit> MeasureTemplate(int id, const std::vector<std::pair<int, std::string>>& runtime) {
    std::vector<Fit> fits;
    HWND dialog = CreateDialogParamW(programInstance, MAKEINTRESOURCEW(id), nullptr, InertDlgProc, 0);
    EXPECT_NE(dialog, nullptr) << id;
    if (!dialog) return fits;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        std::wstring override;
        const std::wstring* text = nullptr;
        for (const auto& [controlId, utf8] : runtime) {
            if (controlId == GetDlgCtrlID(c)) text = &(override = Wide(utf8));
        }
        wchar_t cls[32] = {};
        GetClassNameW(c, cls, 32);
        // Edits are measured only with the texts the program is known to put there.
        if (_wcsicmp(cls, L"Edit") == 0 && !text && WindowTextW(c).empty()) continue;
        if (auto fit = Measure(c, text)) fits.push_back(*fit);
    }
    DestroyWindow(dialog);
    return fits;
}

TEST(Templates, EveryLabelFitsItsControlInTheFontTheDialogGets) {
    const std::string notice = text::kLegalNotice;
    const struct {
        const char* name;
        int id;
        std::vector<std::pair<int, std::string>> runtime;
    } dialogs[] = {
        // The exponent runs from 0.400 to 2.500; every digit is as wide as "0"
        // in these fonts, so the template's "1.000" stands for all of them.
        {"settings", IDD_SETTINGS, {{IDC_DRIVE_TEXT, "W:"}}},
        // At most 100 percent, and 97200 KB for 7680 x 4320 in 24 bits.
        {"progress", IDD_PROGRESS, {{IDC_PERCENT, "100"}, {IDC_OUT_SIZE, "97200"}, {IDC_IN_DRIVE, "W:"}}},
        {"drive", IDD_DRIVE, {}},
        {"about", IDD_ABOUT,
         {{IDC_ABOUT_TITLE, text::kProductTitle}, {IDC_ABOUT_NOTICE, notice.substr(0, notice.find('\n'))}}},
    };
    for (const auto& d : dialogs) {
        const std::vector<Fit> fits = MeasureTemplate(d.id, d.runtime);
        EXPECT_GT(fits.size(), 2u) << d.name;
        const Fit* tightest = nullptr;
        for (const Fit& f : fits) {
            EXPECT_LE(f.need, f.room) << d.name << " dialog, control " << f.label << ": the text needs "
                                      << f.need << " px, the control has " << f.room;
            if (!tightest || f.room - f.need < tightest->room - tightest->need) tightest = &f;
        }
        if (tightest) {
            std::printf("%s: %zu labels, tightest %s with %d px to spare\n", d.name, fits.size(),
                        tightest->label.c_str(), tightest->room - tightest->need);
        }
    }
}

TEST(Resources, IconHasAnImageForEveryScalingIn16Colours) {
    HRSRC res = FindResourceW(programInstance, L"IDI_AppIcon", MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(res, nullptr);
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(programInstance, res)));
    std::vector<int> sizes;
    for (int i = 0; i < dir[4]; ++i) {
        const BYTE* e = dir + 6 + 14 * i;  // GRPICONDIRENTRY
        EXPECT_EQ(e[0], e[1]);
        EXPECT_EQ(e[2], 16);               // colours
        EXPECT_EQ(e[6] | (e[7] << 8), 4);  // bits per pixel
        sizes.push_back(e[0]);
    }
    std::sort(sizes.begin(), sizes.end());
    // Title bar and large icons at 100, 125, 150 and 200 %.
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64}));
    for (const int dpi : {96, 120, 144, 192}) {
        for (const bool small : {true, false}) {
            HICON icon = LoadProgramIcon(dpi, small);
            ASSERT_NE(icon, nullptr) << dpi;
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP mask{};
            GetObjectW(info.hbmMask, sizeof mask, &mask);
            EXPECT_EQ(mask.bmWidth, (small ? 16 : 32) * dpi / 96) << dpi;
            DeleteObject(info.hbmMask);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            DestroyIcon(icon);
        }
    }
}

TEST(Resources, ManifestRunsAsInvokerSharpAtEveryDpi) {
    HRSRC res = FindResourceW(programInstance, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(res, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(programInstance, res))),
                               SizeofResource(programInstance, res));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    const std::string identity = "name=\"Tavrel\" version=\"" TAVREL_VERSION ".0\"";
    EXPECT_NE(manifest.find(identity), std::string::npos) << "the manifest's version is not " TAVREL_VERSION;
}

// What Explorer shows: the version resource, from the same generated header
// as `tavrel --version`.
TEST(Resources, VersionInfo) {
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD unused = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path, &unused));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(info.size()), info.data()));
    UINT size = 0;
    auto query = [&](const std::wstring& key) -> void* {
        void* p = nullptr;
        return VerQueryValueW(info.data(), key.c_str(), &p, &size) ? p : nullptr;
    };
    const auto* fixed = static_cast<VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(TAVREL_VERSION_MINOR, TAVREL_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, TAVREL_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    const auto* language = static_cast<WORD*>(query(L"\\VarFileInfo\\Translation"));
    ASSERT_NE(language, nullptr);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(language[0], 0x0411);  // Japanese
    EXPECT_EQ(language[1], 1200);    // Unicode
    auto text = [&](const wchar_t* name) {
        const auto* p = static_cast<wchar_t*>(query(std::wstring(L"\\StringFileInfo\\041104B0\\") + name));
        return p ? Utf8(p) : std::string("(missing)");
    };
    EXPECT_EQ(text(L"FileVersion"), TAVREL_VERSION);
    EXPECT_EQ(text(L"ProductVersion"), TAVREL_VERSION);
    EXPECT_EQ(text(L"ProductName"), "Tavrel");
    EXPECT_EQ(text(L"OriginalFilename"), "Tavrel.exe");
    EXPECT_EQ(text(L"FileDescription"), "Tavrel RQ6 画像の壁紙変換");
    EXPECT_EQ(text(L"LegalCopyright"), "Copyright (C) 2024 the Tavrel authors");
}

// ---------------------------------------------------------------------------
// Start-up.

TEST(StartUp, FindsTheCdDrivesMakesTheOutputFolderCurrentAndQuits) {
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    static bool registered = RegisterMainWindowClass();
    ASSERT_TRUE(registered);
    WNDCLASSW wc{};
    ASSERT_TRUE(GetClassInfoW(programInstance, L"Tavrel", &wc));
    EXPECT_EQ(wc.cbWndExtra, static_cast<int>(sizeof(void*)));
    EXPECT_NE(wc.hIcon, nullptr);
    EXPECT_EQ(wc.lpfnWndProc, &WndProc);
    // The program exports the same procedure by its plain name, with the
    // 32-bit decoration removed.
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "WndProc")),
              reinterpret_cast<void*>(&WndProc));

    DialogDriver driver;
    HWND settingsOwner = nullptr;
    std::string driveField, currentDir;
    driver.scripts.push_back([&](HWND dlg) {
        settingsOwner = GetWindow(dlg, GW_OWNER);
        driveField = Text(dlg, IDC_DRIVE_TEXT);
        currentDir = Utf8(CurrentDirectoryW());
        Click(dlg, IDCANCEL);
    });
    MainWindow window;
    EXPECT_EQ(driver.unexpectedDialogs, 0);
    ASSERT_NE(window.handle, nullptr);
    EXPECT_EQ(settingsOwner, window.handle);
    EXPECT_FALSE(IsWindowVisible(window.handle));
    EXPECT_EQ(GetWindowLongPtrW(window.handle, 0), reinterpret_cast<LONG_PTR>(&window));
    EXPECT_STREQ(window.title, "Tavrel");

    // In this prefix D: and E: are CD-ROM drives; C: and Z: are fixed disks.
    std::string usable;
    for (int i = 0; i < kDriveCount; ++i) {
        if (driveTable.usable[i]) usable += static_cast<char>('A' + i);
    }
    EXPECT_EQ(usable, "DE");
    EXPECT_EQ(driveTable.selected, 3);
    EXPECT_EQ(driveField, "D:");
    // Wine's Windows directory is writable, so it is the output folder.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(CompareStringOrdinal(Wide(currentDir).c_str(), -1, windows, -1, TRUE), CSTR_EQUAL)
        << currentDir;

    // The quit message is waiting, with code 0, once the dialog has ended.
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    DestroyWindow(window.handle);  // destroying the main window quits as well
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    SetCurrentDirectoryW(before);
}

// Started with a picture file: its folder is the source and its box is
// checked, without any message.
TEST(StartUp, APictureOnTheCommandLineIsTheSourceAndItsBoxChecked) {
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    RegisterMainWindowClass();  // the first start-up test may have done it
    startPaths = {W(InputOn(9))};
    DialogDriver driver;
    driver.scripts.push_back([&](HWND dlg) {
        EXPECT_EQ(Text(dlg, IDC_DRIVE_TEXT), "E:\\Extends");
        EXPECT_TRUE(Checked(dlg, 280));
        EXPECT_TRUE(Enabled(dlg, IDOK));
        Click(dlg, IDCANCEL);
    });
    DestroyWindow(MainWindow().handle);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    startPaths.clear();
    EXPECT_TRUE(driver.boxes.empty());
    EXPECT_EQ(driver.unexpectedDialogs, 0);
    EXPECT_EQ(pictureSource.checkedAtStart, 0);  // used once
    pictureSource = PictureSource{};
    SetCurrentDirectoryW(before);
}

TEST(StartUp, AnUnwritableWindowsDirectoryGivesThePicturesFolder) {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_TRUE(CanCreateFilesIn(windows));
    EXPECT_EQ(OutputDirectory(windows), windows);
    const std::wstring missing = L"Z:\\no\\such\\folder";
    EXPECT_FALSE(CanCreateFilesIn(missing));
    const std::wstring pictures = OutputDirectory(missing);
    EXPECT_NE(pictures, missing);
    EXPECT_TRUE(CanCreateFilesIn(pictures)) << Utf8(pictures);
}

// ---------------------------------------------------------------------------
// Settings dialog.

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        pictureSource = PictureSource{};
        driveTable = DriveTable{};
        driveTable.usable[3] = driveTable.usable[4] = 1;
        driveTable.selected = 3;
    }
    // Opens the settings dialog and runs `script` in it; the script ends it.
    void Run(const std::function<void(HWND)>& script) {
        driver.scripts.push_front(script);
        const INT_PTR r = DialogBoxParamW(programInstance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr,
                                          SettingsDlgProc, 0);
        EXPECT_EQ(r, 1);
        EXPECT_EQ(driver.unexpectedDialogs, 0);
    }
    static void Scroll(HWND dlg, int code, int thumb = 0) {
        SendMessageW(dlg, WM_HSCROLL, MAKEWPARAM(code, thumb),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_CONTRAST)));
    }
    static int Ramp(HWND dlg, int k) { return preview::PixelAt(PreviewBits(dlg), 15 + 2 * k, 40).r; }
    static int TrackbarPos(HWND dlg) {
        return static_cast<int>(SendDlgItemMessageW(dlg, IDC_CONTRAST, TBM_GETPOS, 0, 0));
    }
    DialogDriver driver;
};

TEST_F(SettingsTest, DefaultsFollowTheScreenMode) {
    HDC screen = GetDC(nullptr);
    const int w = GetDeviceCaps(screen, HORZRES), h = GetDeviceCaps(screen, VERTRES);
    const int bpp = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    Run([&](HWND dlg) {
        const int sizeRadio = w == 1024 && h == 768 ? 261 : w == 800 && h == 600 ? 260 : 267;
        for (int id = 259; id <= 267; ++id) EXPECT_EQ(Checked(dlg, id), id == sizeRadio) << id;
        EXPECT_EQ(Enabled(dlg, IDC_CUSTOM_WIDTH), sizeRadio == 267);
        EXPECT_EQ(Text(dlg, IDC_CUSTOM_WIDTH), std::to_string(w));
        EXPECT_EQ(Text(dlg, IDC_CUSTOM_HEIGHT), std::to_string(h));
        const int colour = bpp > 16 ? 276 : bpp > 8 ? 275 : bpp > 4 ? 274 : bpp > 2 ? 272 : 270;
        for (int id = 270; id <= 276; ++id) EXPECT_EQ(Checked(dlg, id), id == colour) << id;
        EXPECT_TRUE(Checked(dlg, IDC_NAME_LONG));
        EXPECT_TRUE(Checked(dlg, IDC_CROP_TO_ASPECT));
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "1.000");
        EXPECT_EQ(TrackbarPos(dlg), 128);
        EXPECT_EQ(Text(dlg, IDC_DRIVE_TEXT), "D:");
        for (int id = 277; id <= 281; ++id) EXPECT_FALSE(Checked(dlg, id));
        EXPECT_FALSE(Enabled(dlg, IDOK));
        // The dialog's own texts come through in Japanese.
        EXPECT_EQ(Caption(dlg), "設定");
        EXPECT_EQ(Text(dlg, IDC_MODE_FULL), "24bit (フルカラー16'777'216色)");
        Click(dlg, IDCANCEL);
    });
}

TEST_F(SettingsTest, TrackbarMovesTheExponentAndTheRamp) {
    Run([&](HWND dlg) {
        ASSERT_NE(PreviewBits(dlg), nullptr);
        // At the middle: the identity ramp 0, 0, 1, 2 ... 254.
        EXPECT_EQ(Ramp(dlg, 0), 0);
        EXPECT_EQ(Ramp(dlg, 2), 1);
        EXPECT_EQ(Ramp(dlg, 255), 254);
        Scroll(dlg, TB_TOP);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "0.400");
        EXPECT_EQ((std::vector<int>{Ramp(dlg, 0), Ramp(dlg, 1), Ramp(dlg, 2), Ramp(dlg, 3)}),
                  (std::vector<int>{0, 27, 36, 43}));
        EXPECT_EQ((std::vector<int>{Ramp(dlg, 252), Ramp(dlg, 253), Ramp(dlg, 254), Ramp(dlg, 255)}),
                  (std::vector<int>{253, 253, 254, 254}));
        EXPECT_EQ(TrackbarPos(dlg), 0);
        // Line up at 0 stays at 0 but writes the exponent again.
        SetDlgItemTextW(dlg, IDC_EXPONENT, L"x");
        Scroll(dlg, TB_LINEUP);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "0.400");
        Scroll(dlg, TB_THUMBTRACK, 64);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "0.632");
        EXPECT_EQ(TrackbarPos(dlg), 64);
        // End of a drag changes nothing.
        SetDlgItemTextW(dlg, IDC_EXPONENT, L"x");
        Scroll(dlg, TB_ENDTRACK);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "x");
        Scroll(dlg, TB_THUMBPOSITION, 250);
        Scroll(dlg, TB_PAGEDOWN);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "2.500");
        EXPECT_EQ((std::vector<int>{Ramp(dlg, 252), Ramp(dlg, 253), Ramp(dlg, 254), Ramp(dlg, 255)}),
                  (std::vector<int>{245, 247, 250, 252}));
        EXPECT_EQ(Ramp(dlg, 1), 0);
        Scroll(dlg, TB_THUMBPOSITION, 10);
        Scroll(dlg, TB_PAGEUP);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "0.400");
        Scroll(dlg, TB_BOTTOM);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "2.500");
        Scroll(dlg, TB_LINEUP);
        EXPECT_EQ(TrackbarPos(dlg), 255);
        // Keys move the trackbar itself, which reports the step.
        HWND bar = GetDlgItem(dlg, IDC_CONTRAST);
        SendMessageW(bar, WM_KEYDOWN, VK_HOME, 0);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "0.400");
        SendMessageW(bar, WM_KEYDOWN, VK_NEXT, 0);
        EXPECT_EQ(TrackbarPos(dlg), 16);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), FormatExponentForTest(16));
        // A wheel notch moves the trackbar by several lines; the value shown
        // and the trackbar stay in agreement.
        SendMessageW(bar, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), FormatExponentForTest(TrackbarPos(dlg)));
        // "規定値" goes back to the middle and redraws.
        Click(dlg, IDC_SIZE_640);
        Click(dlg, IDC_DEFAULTS);
        EXPECT_EQ(Text(dlg, IDC_EXPONENT), "1.000");
        EXPECT_EQ(TrackbarPos(dlg), 128);
        EXPECT_EQ(Ramp(dlg, 255), 254);
        EXPECT_FALSE(Checked(dlg, IDC_SIZE_640));
        Click(dlg, IDCANCEL);
    });
}

// The preview fills its control at every DPI the suite runs at (the prefix's
// LogPixels; TAVREL_EXPECTED_DPI says which): read back from the screen, each
// grey step is a sharp band of its own value, and the markers stand at the
// same fraction of the control's width as in the bitmap.
TEST_F(SettingsTest, PreviewFillsItsControlAtThisDpi) {
    Run([&](HWND dlg) {
        const int dpi = WindowDpi(dlg);
        if (const char* expected = std::getenv("TAVREL_EXPECTED_DPI")) {
            ASSERT_EQ(dpi, std::atoi(expected)) << "the prefix does not run at the DPI asked for";
        }
        Scroll(dlg, TB_TOP);
        HWND control = GetDlgItem(dlg, IDC_PREVIEW);
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        RECT client;
        GetClientRect(control, &client);
        const int w = client.right, h = client.bottom;
        // Where bitmap column x (or row y) lands: the middle of its band.
        auto column = [&](double x) { return static_cast<int>(x * w / preview::kWidth); };
        auto row = [&](double y) { return static_cast<int>(y * h / preview::kHeight); };
        HDC dc = GetDC(control);
        for (int k : {0, 1, 2, 3, 100, 200, 255}) {
            const COLORREF c = GetPixel(dc, column(16 + 2 * k), row(45.5));
            EXPECT_EQ(GetRValue(c), Ramp(dlg, k)) << "step " << k << " at " << dpi << " dpi";
            EXPECT_EQ(GetRValue(c), GetBValue(c)) << k;
        }
        EXPECT_EQ(GetPixel(dc, column(14), row(22)), RGB(255, 64, 255));
        EXPECT_EQ(GetPixel(dc, column(528), row(70)), RGB(192, 0, 192));
        EXPECT_EQ(GetPixel(dc, w - 1, h - 1), RGB(255, 255, 255));  // no edge left unpainted
        EXPECT_EQ(GetPixel(dc, 0, h - 1), RGB(0, 0, 0));
        // The right marker, found along a row through it.
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x) {
            if (GetPixel(dc, x, row(22)) != RGB(192, 0, 192)) continue;
            if (first < 0) first = x;
            last = x;
        }
        ReleaseDC(control, dc);
        ASSERT_GE(first, 0);
        const double fraction = (first + last + 1) / 2.0 / w;
        EXPECT_NEAR(fraction, 528.0 / preview::kWidth, 0.01) << "control " << w << " x " << h;
        // The same place as a share of the dialog's width, as the eye sees it.
        POINT marker{(first + last + 1) / 2, 0};
        MapWindowPoints(control, dlg, &marker, 1);
        RECT dialog;
        GetClientRect(dlg, &dialog);
        std::printf("%d dpi: preview %d x %d px, right marker at %.3f of the control, %.3f of the dialog\n",
                    dpi, w, h, fraction, static_cast<double>(marker.x) / dialog.right);
        Click(dlg, IDCANCEL);
    });
}

TEST_F(SettingsTest, PicturesEnableTheStartAndTheControlsAreCollected) {
    Run([&](HWND dlg) {
        Click(dlg, 277);
        EXPECT_TRUE(Enabled(dlg, IDOK));
        Click(dlg, 281);
        Click(dlg, 277);
        EXPECT_TRUE(Enabled(dlg, IDOK));
        Click(dlg, 281);
        EXPECT_FALSE(Enabled(dlg, IDOK));
        // Enter with the start disabled does nothing.
        SendMessageW(dlg, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(IsWindow(dlg));

        Click(dlg, 277);
        Click(dlg, 281);
        Click(dlg, IDC_SIZE_CUSTOM);
        EXPECT_TRUE(Enabled(dlg, IDC_CUSTOM_WIDTH));
        SetDlgItemTextW(dlg, IDC_CUSTOM_WIDTH, L"");
        SetDlgItemTextW(dlg, IDC_CUSTOM_HEIGHT, L"1024");
        Click(dlg, IDC_MODE_GRAY256);
        Click(dlg, IDC_NAME_EACH);
        Scroll(dlg, TB_THUMBPOSITION, 192);
        CollectSettings(dlg);
        EXPECT_EQ(conversionSettings.imageMask, 17);
        EXPECT_EQ(conversionSettings.width, 0);
        EXPECT_EQ(conversionSettings.height, 1024);
        EXPECT_EQ(conversionSettings.colorMode, 9);
        EXPECT_EQ(conversionSettings.outputName, "");
        EXPECT_EQ(conversionSettings.outputDigitPos, -1);
        EXPECT_EQ(conversionSettings.inputPath, "A:\\Extends\\Sg0??.rq6");
        EXPECT_EQ(conversionSettings.inputDigitPos, 15);
        EXPECT_NEAR(conversionSettings.exponent, std::pow(2.5, 0.5), 1e-12);

        Click(dlg, IDC_SIZE_1280_1024);
        EXPECT_FALSE(Enabled(dlg, IDC_CUSTOM_WIDTH));
        Click(dlg, IDC_NAME_SHORT);
        CollectSettings(dlg);
        EXPECT_EQ(conversionSettings.width, 1280);
        EXPECT_EQ(conversionSettings.height, 1024);
        EXPECT_EQ(conversionSettings.outputName, "ORVSg0??.bmp");
        EXPECT_EQ(conversionSettings.outputDigitPos, 7);
        Click(dlg, IDCANCEL);
    });
}

TEST_F(SettingsTest, DriveDialogChangesTheInputDriveAndCancelKeepsIt) {
    Run([&](HWND dlg) {
        driver.scripts.push_back([](HWND drive) {
            for (int i = 0; i < 26; ++i) {
                EXPECT_EQ(Enabled(drive, 256 + i), i == 3 || i == 4) << i;
                EXPECT_EQ(Checked(drive, 256 + i), i == 3) << i;
            }
            EXPECT_EQ(Caption(drive), "ドライブの選択");
            Click(drive, 256 + 4);
            Click(drive, IDOK);
        });
        Click(dlg, IDC_DRIVE_SELECT);
        EXPECT_EQ(driveTable.selected, 4);
        EXPECT_EQ(Text(dlg, IDC_DRIVE_TEXT), "E:");

        driver.scripts.push_back([](HWND drive) {
            EXPECT_TRUE(Checked(drive, 256 + 4));
            Click(drive, 256 + 3);
            Click(drive, IDCANCEL);
        });
        SetDlgItemTextW(dlg, IDC_DRIVE_TEXT, L"?");
        Click(dlg, IDC_DRIVE_SELECT);
        EXPECT_EQ(driveTable.selected, 4);
        EXPECT_EQ(Text(dlg, IDC_DRIVE_TEXT), "E:");  // written again, unchanged

        driver.scripts.push_back([](HWND drive) { Click(drive, IDOK); });
        Click(dlg, IDC_DRIVE_SELECT);
        EXPECT_EQ(driveTable.selected, 4);
        Click(dlg, IDCANCEL);
    });
}

// The system's folder picker, driven from its own message loop: the folder
// typed into its name box, then its OK button.
void PickInFolderPicker(HWND picker, const std::wstring& folder) {
    EXPECT_EQ(Caption(picker), text::kPickFolderTitle);
    HWND name = GetDlgItem(picker, 0x47C);
    if (name == nullptr) name = GetDlgItem(picker, 0x480);
    ASSERT_NE(name, nullptr);
    SetWindowTextW(name, folder.c_str());
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// A copy of the disc's Sg007 in a folder with a Japanese name (山田の壁紙).
std::wstring JapaneseCopy() {
    const std::wstring folder = CurrentDirectoryW() + L"\\\u5C71\u7530\u306E\u58C1\u7D19";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\extends").c_str(), nullptr);
    EXPECT_TRUE(CopyFileW(W(InputOn(7)).c_str(), (folder + L"\\extends\\sg007.rq6").c_str(), FALSE));
    return folder;
}

TEST_F(SettingsTest, AFolderChosenInTheDriveDialogIsTheSourceUntilADriveIsChosen) {
    const std::wstring copy = JapaneseCopy();
    const std::wstring empty = CurrentDirectoryW() + L"\\no pictures";
    CreateDirectoryW(empty.c_str(), nullptr);
    Run([&](HWND dlg) {
        // A folder without pictures is refused and the dialog stays; the
        // copy is taken and ends it.
        driver.scripts.push_back([&](HWND drive) {
            driver.scripts.push_back([&](HWND picker) { PickInFolderPicker(picker, empty); });
            Click(drive, IDC_DRIVE_FOLDER);
            ASSERT_TRUE(IsWindow(drive));
            driver.scripts.push_back([&](HWND picker) { PickInFolderPicker(picker, copy); });
            Click(drive, IDC_DRIVE_FOLDER);
        });
        Click(dlg, IDC_DRIVE_SELECT);
        EXPECT_EQ(W(Text(dlg, IDC_DRIVE_TEXT)), copy);
        // "決定" with no drive checked keeps the folder; a drive replaces it.
        driver.scripts.push_back([](HWND drive) {
            for (int i = 0; i < 26; ++i) EXPECT_FALSE(Checked(drive, 256 + i)) << i;
            Click(drive, IDOK);
        });
        Click(dlg, IDC_DRIVE_SELECT);
        EXPECT_EQ(W(pictureSource.folder), copy);
        driver.scripts.push_back([](HWND drive) {
            Click(drive, 256 + 4);
            Click(drive, IDOK);
        });
        Click(dlg, IDC_DRIVE_SELECT);
        EXPECT_EQ(Text(dlg, IDC_DRIVE_TEXT), "E:");
        EXPECT_EQ(pictureSource.folder, "");
        Click(dlg, IDCANCEL);
    });
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, text::FolderHasNoPictures());
    EXPECT_EQ(driver.boxes[0].caption, "フォルダの選択");
    EXPECT_EQ(driver.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
}

// A DROPFILES block as Explorer hands it over: wide paths, each ended, the
// list ended by an empty one.
HGLOBAL DropOf(const std::wstring& path) {
    const std::size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    path.copy(reinterpret_cast<wchar_t*>(drop + 1), path.size());
    GlobalUnlock(memory);
    return memory;
}

TEST_F(SettingsTest, AFolderOrPictureDroppedOnTheDialogBecomesTheSource) {
    const std::wstring copy = JapaneseCopy();
    Run([&](HWND dlg) {
        EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
        // Anything else is refused and changes nothing.
        SendMessageW(dlg, WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf(W(InputOn(6) + ".bmp"))), 0);
        EXPECT_EQ(Text(dlg, IDC_DRIVE_TEXT), "D:");
        EXPECT_FALSE(Enabled(dlg, IDOK));
        SendMessageW(dlg, WM_DROPFILES,
                     reinterpret_cast<WPARAM>(DropOf(copy + L"\\extends\\sg007.rq6")), 0);
        EXPECT_EQ(W(Text(dlg, IDC_DRIVE_TEXT)), copy + L"\\extends");
        EXPECT_TRUE(Checked(dlg, 278));
        EXPECT_TRUE(Enabled(dlg, IDOK));
        SendMessageW(dlg, WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf(copy)), 0);
        EXPECT_EQ(W(Text(dlg, IDC_DRIVE_TEXT)), copy);
        Click(dlg, IDCANCEL);
    });
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].caption, "入力元の指定");
    EXPECT_EQ(driver.boxes[0].text, InputOn(6) + ".bmp は、画像 (Sg006.rq6 ～ Sg010.rq6) の入ったフォルダでも RQ6 ファイルでもありません。");
}

TEST_F(SettingsTest, AboutBoxShowsTheTitleAndOneLineOfTheNotice) {
    const std::string notice = text::kLegalNotice;
    Run([&](HWND dlg) {
        for (int round = 0; round < 2; ++round) {
            driver.scripts.push_back([&](HWND about) {
                EXPECT_EQ(Text(about, IDC_ABOUT_TITLE), "Tavrel");
                EXPECT_EQ(Text(about, IDC_ABOUT_NOTICE), notice.substr(0, notice.find('\n')));
                HWND icon = nullptr;
                for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                    if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = c;
                }
                ASSERT_NE(icon, nullptr);
                EXPECT_NE(SendMessageW(icon, STM_GETICON, 0, 0), 0);
                Click(about, IDOK);
            });
            Click(dlg, IDC_ABOUT);
        }
        EXPECT_EQ(std::string(text::kLegalNotice), notice);
        Click(dlg, IDCANCEL);
    });
}

TEST_F(SettingsTest, StartRunsTheChosenPicturesFromTheSelectedDrive) {
    for (const char* f : {"ORVSg006.bmp", "ORVSg010.bmp"}) DeleteFileA(f);
    double exponent = 0;
    Run([&](HWND dlg) {
        driveTable.selected = 4;  // E:
        Click(dlg, 277);
        Click(dlg, 281);
        Click(dlg, IDC_SIZE_CUSTOM);
        SetDlgItemTextW(dlg, IDC_CUSTOM_WIDTH, L"300");
        SetDlgItemTextW(dlg, IDC_CUSTOM_HEIGHT, L"200");
        Click(dlg, IDC_MODE_COLOR256);
        Click(dlg, IDC_NAME_SHORT);
        Click(dlg, IDC_CROP_TO_ASPECT);  // off: the size is made 4:3
        Scroll(dlg, TB_THUMBPOSITION, 160);
        exponent = ContrastTable().exponent[160];
        driver.scripts.push_back([&](HWND progress) {
            // The real 10 ms timer drives the run.
            EXPECT_TRUE(PumpUntil([&] { return Text(progress, IDC_STATUS_LINE) == "完了しました。"; }, 30000));
            EXPECT_EQ(Text(progress, IDC_PERCENT), "100");
            EXPECT_EQ(Text(progress, IDC_IN_DRIVE), "E:");
            EXPECT_EQ(Text(progress, IDC_OUT_FILE), "ORVSg010.bmp");
            EXPECT_EQ(Text(progress, IDC_COMMENT), "夕暮れの風景");
            Click(progress, IDOK);
        });
        Click(dlg, IDOK);
        // Back in the settings dialog with every choice as it was.
        EXPECT_TRUE(Checked(dlg, 277));
        EXPECT_TRUE(Checked(dlg, IDC_SIZE_CUSTOM));
        EXPECT_EQ(Text(dlg, IDC_CUSTOM_WIDTH), "300");
        EXPECT_FALSE(Checked(dlg, IDC_CROP_TO_ASPECT));
        EXPECT_EQ(TrackbarPos(dlg), 160);
        Click(dlg, IDCANCEL);
    });
    ASSERT_EQ(driver.boxes.size(), 1u);  // the 4:3 notice, once
    EXPECT_EQ(driver.boxes[0].caption, "縦横比修正の通知");
    EXPECT_EQ(driver.boxes[0].text,
              "出力画像の縦横比は、4:3でなくては\nなりませんので、次の通り修正します。\n  幅 : 264 Pixel / 高さ : 198 Pixel");
    EXPECT_EQ(driver.boxes[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(conversionSettings.inputPath, "E:\\Extends\\Sg010.rq6");
    EXPECT_TRUE(test::ReadBytes("ORVSg006.bmp") == EngineBytes(InputOn(6), exponent, 264, 198, 8));
    EXPECT_TRUE(test::ReadBytes("ORVSg010.bmp") == EngineBytes(InputOn(10), exponent, 264, 198, 8));
    EXPECT_TRUE(Released("ORVSg010.bmp"));
}

// ---------------------------------------------------------------------------
// Progress dialog and batch run.

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        pictureSource = PictureSource{};
        driveTable = DriveTable{};
        driveTable.usable[3] = driveTable.usable[4] = 1;
        driveTable.selected = 4;  // E:
        ConversionSettings s;
        s.imageMask = 1;
        s.inputPath = "A:\\Extends\\Sg0??.rq6";
        s.inputDigitPos = 15;
        s.outputName = "ORVSg0??.bmp";
        s.outputDigitPos = 7;
        s.exponent = 1.0;
        s.width = 200;
        s.height = 150;
        s.colorMode = 24;
        conversionSettings = s;
        for (int n = 6; n <= 10; ++n) DeleteFileW(Wide(Out(n)).c_str());
        GetCurrentDirectoryW(MAX_PATH, startDir_);
        // Each tick one row, so that a test can stop at any row.
        batchRun.tickBudget = std::chrono::nanoseconds(0);
    }
    void TearDown() override {
        SetCurrentDirectoryW(startDir_);
        batchRun.tickBudget = BatchRun().tickBudget;
    }

    static std::string Out(int n) {
        return "ORVSg0" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ".bmp";
    }
    // Runs the progress dialog; `script` (if any) runs once it is up.
    INT_PTR Run(std::function<void(HWND)> script = nullptr) {
        if (script) driver.scripts.push_back(std::move(script));
        const INT_PTR r = DialogBoxParamW(programInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                          ProgressDlgProc, 0);
        EXPECT_EQ(driver.unexpectedDialogs, 0);
        EXPECT_EQ(batchRun.currentJob, nullptr) << "a job outlived its dialog";
        return r;
    }
    // Takes over from the real timer: each call is one tick.
    static void Manual(HWND dlg) { KillTimer(dlg, 1); }
    static void Tick(HWND dlg) { SendMessageW(dlg, WM_TIMER, 1, 0); }
    static bool Finished(HWND dlg) { return Text(dlg, IDC_STATUS_LINE) == "完了しました。"; }
    static void TickToEnd(HWND dlg) {
        for (int i = 0; i < 5000 && IsWindow(dlg) && !Finished(dlg); ++i) Tick(dlg);
    }

    DialogDriver driver;
    wchar_t startDir_[MAX_PATH] = {};
};

TEST_F(ProgressTest, ShowsThePictureAndItsProgressRowByRow) {
    conversionSettings.imageMask = 1 | 2;  // Sg006, then Sg007 with a 128-byte comment
    std::string cwd = Utf8(CurrentDirectoryW());
    const INT_PTR r = Run([&](HWND dlg) {
        Manual(dlg);
        EXPECT_EQ(Caption(dlg), "変換中");
        EXPECT_EQ(Text(dlg, IDC_STATUS_LINE), "変換中です。しばらくお待ちください・・・。");
        EXPECT_EQ(Text(dlg, IDC_COMMENT), "グラデーション 16ビット階調");  // code page 932 text
        EXPECT_EQ(Text(dlg, IDC_IN_DRIVE), "E:");
        EXPECT_EQ(Text(dlg, IDC_OUT_DIR), cwd);
        EXPECT_EQ(Text(dlg, IDC_OUT_FILE), "ORVSg006.bmp");
        EXPECT_EQ(Text(dlg, IDC_OUT_SIZE), "88");  // 54 + 150 rows of 600 bytes = 90054
        EXPECT_FALSE(Enabled(dlg, IDOK));
        EXPECT_TRUE(Enabled(dlg, IDCANCEL));
        EXPECT_TRUE(Enabled(dlg, IDC_AUTO_CLOSE));
        EXPECT_FALSE(Checked(dlg, IDC_AUTO_CLOSE));
        // Enter (the disabled default button) must not end a running dialog.
        SendMessageW(dlg, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(IsWindow(dlg));
        while (batchRun.currentJob->linesDone < 149) Tick(dlg);
        EXPECT_EQ(Text(dlg, IDC_PERCENT), "99");
        EXPECT_EQ(SendDlgItemMessageW(dlg, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0), 99);
        Tick(dlg);  // the last row: the next picture begins in the same tick
        EXPECT_EQ(Text(dlg, IDC_OUT_FILE), "ORVSg007.bmp");
        EXPECT_EQ(Text(dlg, IDC_PERCENT), "0");
        std::string sixtyFour;
        for (int i = 0; i < 64; ++i) sixtyFour += "あ";
        EXPECT_EQ(Text(dlg, IDC_COMMENT), sixtyFour);  // all 128 bytes, no terminator
        TickToEnd(dlg);
        EXPECT_TRUE(Finished(dlg));
        EXPECT_EQ(Text(dlg, IDC_PERCENT), "100");
        EXPECT_TRUE(Enabled(dlg, IDOK));
        EXPECT_FALSE(Enabled(dlg, IDCANCEL));
        EXPECT_FALSE(Enabled(dlg, IDC_AUTO_CLOSE));
        // Escape or the close box cannot abort a finished run.
        SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
        SendMessageW(dlg, WM_CLOSE, 0, 0);
        ASSERT_TRUE(IsWindow(dlg));
        Click(dlg, IDOK);
    });
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(driver.boxes.empty());
    EXPECT_TRUE(test::ReadBytes(Out(6)) == EngineBytes(InputOn(6), 1.0, 200, 150, 24));
    EXPECT_TRUE(test::ReadBytes(Out(7)) == EngineBytes(InputOn(7), 1.0, 200, 150, 24));
}

TEST_F(ProgressTest, SizeNoticeOnceBeforeTheFirstPictureOwnedByTheDialog) {
    conversionSettings.imageMask = 1 | 2 | 16;
    conversionSettings.width = 199;
    HWND progress = nullptr;
    Run([&](HWND dlg) {
        progress = dlg;
        Manual(dlg);
        TickToEnd(dlg);
        Click(dlg, IDOK);
    });
    ASSERT_EQ(driver.boxes.size(), 1u);
    const RecordedBox& b = driver.boxes[0];
    EXPECT_EQ(b.text, "出力画像が小さすぎますので、次の通り\n修正します。\n  幅 : 200 Pixel / 高さ : 150 Pixel");
    EXPECT_EQ(b.caption, "縦横修正の通知");
    EXPECT_EQ(b.icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(b.buttons, (std::vector<int>{IDOK}));
    EXPECT_EQ(b.owner, progress);
    for (int n : {6, 7, 10}) EXPECT_TRUE(Exists(Out(n))) << n;
}

TEST_F(ProgressTest, AbortDeletesOnlyThePictureInHand) {
    conversionSettings.imageMask = 1 | 2 | 16;
    WriteOld(Out(10));
    Run([&](HWND dlg) {
        Manual(dlg);
        while (Text(dlg, IDC_OUT_FILE) != "ORVSg010.bmp") Tick(dlg);
        for (int i = 0; i < 20; ++i) Tick(dlg);
        Click(dlg, IDCANCEL);
    });
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, "処理を中断しました。");
    EXPECT_EQ(driver.boxes[0].caption, "処理の中止");
    EXPECT_EQ(driver.boxes[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_TRUE(Exists(Out(6)));
    EXPECT_TRUE(Exists(Out(7)));
    EXPECT_TRUE(IsOld(Out(10)));  // the wallpaper it was to replace
    EXPECT_TRUE(Temporaries().empty());
}

TEST_F(ProgressTest, MissingFirstPictureClosesWithItsMessage) {
    conversionSettings.imageMask = 4;  // Sg008 is not on the disc
    EXPECT_EQ(Run(), 1);               // no script: the dialog never stays up
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, StatusMessage(kStatusInputNotOpened));
    EXPECT_EQ(driver.boxes[0].caption, "変換開始エラー");
    EXPECT_EQ(driver.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(Exists(Out(8)));
}

TEST_F(ProgressTest, NothingChosenClosesSilently) {
    conversionSettings.imageMask = 0;
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(driver.boxes.empty());
}

TEST_F(ProgressTest, DamagedPictureIsReportedOnceAndItsFileRemoved) {
    conversionSettings.imageMask = 1 | 8 | 16;  // 6, 9 (damaged), 10 (not reached)
    WriteOld(Out(9));
    int ticksDuringBox = 0;
    Run([&](HWND dlg) {
        // The real timer keeps ticking while the message box is open.
        driver.whileBoxOpen = [&](HWND) {
            PumpUntil([] { return false; }, 100);
            ++ticksDuringBox;
        };
        EXPECT_TRUE(PumpUntil([&] { return Finished(dlg); }, 20000));
        EXPECT_TRUE(Enabled(dlg, IDOK));
        // The picture written whole before the damaged one.
        EXPECT_TRUE(Enabled(dlg, IDC_SET_WALLPAPER));
        EXPECT_EQ(W(batchRun.lastWritten), CurrentDirectoryW() + L"\\ORVSg006.bmp");
        Click(dlg, IDOK);
    });
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, StatusMessage(kStatusReadFailed));
    EXPECT_EQ(driver.boxes[0].caption, "変換エラー");
    EXPECT_EQ(driver.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(ticksDuringBox, 1);
    EXPECT_TRUE(Exists(Out(6)));
    EXPECT_TRUE(IsOld(Out(9)));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(Exists(Out(10)));
}

// A full disk (the file layer's write budget) while the headers are written:
// reported at the begin, and the wallpaper of that name kept. (An output name
// that cannot be taken at the end is the batch run's native test.)
TEST_F(ProgressTest, AFullDiskIsReportedAtBeginAndTheOldFileKept) {
    conversionSettings.imageMask = 1;
    WriteOld(Out(6));
    file_faults::LimitWrites(20);
    EXPECT_EQ(Run(), 1);
    file_faults::UnlimitedWrites();
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, StatusMessage(kStatusWriteFailed));
    EXPECT_EQ(driver.boxes[0].caption, "変換開始エラー");
    EXPECT_TRUE(IsOld(Out(6)));
    EXPECT_TRUE(Temporaries().empty());
}

TEST_F(ProgressTest, AutoCloseEndsTheDialogAndReleasesTheFile) {
    conversionSettings.imageMask = 16;
    Run([&](HWND dlg) {
        Manual(dlg);
        Click(dlg, IDC_AUTO_CLOSE);
        TickToEnd(dlg);
        // No click: the dialog has closed by itself.
    });
    EXPECT_TRUE(Exists(Out(10)));
    EXPECT_TRUE(Released(Out(10)));
}

// The save dialog's file name box: a combo box, or an edit in older layouts.
HWND FileNameBox(HWND dlg) {
    HWND name = GetDlgItem(dlg, 0x47C);
    return name != nullptr ? name : GetDlgItem(dlg, 0x480);
}

// The save dialog: types a path into its file name box and presses Save.
void Save(HWND dlg, const std::wstring& path) {
    HWND name = FileNameBox(dlg);
    ASSERT_NE(name, nullptr);
    SetWindowTextW(name, path.c_str());
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

std::wstring FileNameField(HWND dlg) {
    wchar_t text[MAX_PATH] = {};
    GetWindowTextW(FileNameBox(dlg), text, MAX_PATH);
    return text;
}

TEST_F(ProgressTest, NamesChosenInTheSaveDialogAndTheFolderStays) {
    const std::wstring folder = CurrentDirectoryW() + L"\\saved";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* f : {L"\\abc.bmp", L"\\x.BMP", L"\\ORVSg010.bmp"}) {
        DeleteFileW((folder + f).c_str());
    }
    conversionSettings.imageMask = 1 | 2;
    conversionSettings.outputName.clear();
    conversionSettings.outputDigitPos = -1;
    conversionSettings.outputPath.clear();
    std::wstring secondShown;
    std::string dirField;
    driver.scripts.push_back([&](HWND save) {
        EXPECT_EQ(Caption(save), "保存ファイル名の指定");
        Save(save, folder + L"\\abc");
    });
    driver.scripts.push_back([&](HWND dlg) {
        Manual(dlg);
        EXPECT_EQ(Text(dlg, IDC_OUT_FILE), "abc.bmp");
        dirField = Text(dlg, IDC_OUT_DIR);
        // The second picture: cancel once, say "No", then name it.
        driver.scripts.push_back([&](HWND save) {
            secondShown = FileNameField(save);
            PostMessageW(save, WM_COMMAND, IDCANCEL, 0);
        });
        driver.answers.push_back(IDNO);
        driver.scripts.push_back([&](HWND save) { Save(save, folder + L"\\x.BMP"); });
        TickToEnd(dlg);
        Click(dlg, IDOK);
    });
    Run();
    EXPECT_EQ(dirField, Utf8(folder));
    EXPECT_NE(secondShown.find(L"abc"), std::wstring::npos);
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, "処理を中止しますか？");
    EXPECT_EQ(driver.boxes[0].caption, "保存ファイル名選択拒否");
    EXPECT_EQ(driver.boxes[0].icon, static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_EQ(driver.boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_TRUE(driver.boxes[0].defaultButton == IDNO || driver.boxes[0].focusButton == IDNO)
        << driver.boxes[0].defaultButton << " " << driver.boxes[0].focusButton;
    EXPECT_TRUE(test::ReadBytes(Utf8(folder) + "\\abc.bmp") == EngineBytes(InputOn(6), 1.0, 200, 150, 24));
    EXPECT_TRUE(test::ReadBytes(Utf8(folder) + "\\x.BMP") == EngineBytes(InputOn(7), 1.0, 200, 150, 24));

    // A later run with a name pattern writes into the same folder.
    conversionSettings.imageMask = 16;
    conversionSettings.outputName = "ORVSg0??.bmp";
    conversionSettings.outputDigitPos = 7;
    Run([&](HWND dlg) {
        EXPECT_EQ(Text(dlg, IDC_OUT_DIR), Utf8(folder));
        Manual(dlg);
        TickToEnd(dlg);
        Click(dlg, IDOK);
    });
    EXPECT_TRUE(Exists(Utf8(folder) + "\\ORVSg010.bmp"));
}

TEST_F(ProgressTest, GivingUpTheNameOfTheFirstPictureCloses) {
    conversionSettings.imageMask = 1;
    conversionSettings.outputName.clear();
    conversionSettings.outputDigitPos = -1;
    driver.scripts.push_back([](HWND save) { PostMessageW(save, WM_COMMAND, IDCANCEL, 0); });
    driver.answers.push_back(IDYES);
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].caption, "保存ファイル名選択拒否");
}

}  // namespace
