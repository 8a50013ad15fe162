// The settings dialog: contrast with its preview, size, colour format,
// pictures, naming and drive; starts the batch run.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <new>

#include "engine/disc_pictures.h"
#include "resources/resource.h"
#include "ui/dialogs_win.h"
#include "ui/picture_folder.h"
#include "ui/preview.h"
#include "ui/records.h"
#include "ui/settings_logic.h"
#include "ui/ui_text.h"
#include "ui/win_util_win.h"

namespace {

// One box for each picture of the disc, in order.
static_assert(IDC_PICTURE_LAST - IDC_PICTURE_FIRST + 1 == disc::kPictureCount);

// Lives as long as the dialog, reached through DWLP_USER.
struct SettingsState {
    ContrastTable contrast;
    preview::Renderer renderer;
    HBITMAP bitmap = nullptr;
    std::uint8_t* bits = nullptr;

    ~SettingsState() {
        if (bitmap != nullptr) DeleteObject(bitmap);
    }
};

SettingsState* State(HWND dialog) {
    return reinterpret_cast<SettingsState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

void InvalidatePreview(HWND dialog) {
    InvalidateRect(GetDlgItem(dialog, IDC_PREVIEW), nullptr, FALSE);
}

bool CreatePreviewBitmap(SettingsState* state) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = preview::kWidth;
    info.bmiHeader.biHeight = preview::kHeight;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = preview::kImageSize;
    info.bmiHeader.biXPelsPerMeter = 3780;
    info.bmiHeader.biYPelsPerMeter = 3780;
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    state->bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    state->bits = static_cast<std::uint8_t*>(bits);
    return state->bitmap != nullptr && state->bits != nullptr;
}

// Checks the box of picture n (6 ... 10), which lets the run start.
void CheckPicture(HWND dialog, int n) {
    CheckDlgButton(dialog, IDC_PICTURE_FIRST + n - disc::kFirstPicture, BST_CHECKED);
    EnableItem(dialog, IDOK, true);
}

BOOL OnInitDialog(HWND dialog) {
    auto* state = new (std::nothrow) SettingsState;
    if (state == nullptr) {
        ShowMessage(dialog, text::kNoMemory, text::kNoMemoryCaption, MB_OK | MB_ICONERROR);
        EndDialog(dialog, 1);
        return TRUE;
    }
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));

    SendDlgItemMessageW(dialog, IDC_CONTRAST, TBM_SETRANGE, FALSE,
                        MAKELPARAM(0, ContrastTable::kPositions - 1));
    SendDlgItemMessageW(dialog, IDC_CONTRAST, TBM_SETPAGESIZE, 0, 16);
    SetItemText(dialog, IDC_DRIVE_TEXT, SourceText(pictureSource, driveTable.selected));
    ApplyDefaults(dialog);
    // The picture the program was started with.
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        if (pictureSource.checkedAtStart & (1u << (n - disc::kFirstPicture))) {
            CheckPicture(dialog, n);
        }
    }
    pictureSource.checkedAtStart = 0;
    // Folders and pictures dropped on the dialog become the source.
    DragAcceptFiles(dialog, TRUE);

    using Init = preview::Renderer::Init;
    const Init init = state->renderer.Create([] { return std::make_unique<CGammaCB>(); });
    if (init != Init::kOk) {
        if (init == Init::kUnexpected) {
            ShowMessage(dialog, text::kUnexpected, text::kUnexpectedCaption, MB_OK | MB_ICONERROR);
        } else {
            ShowMessage(dialog, text::kNoMemory, text::kNoMemoryCaption, MB_OK | MB_ICONERROR);
        }
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (!CreatePreviewBitmap(state)) {
        EndDialog(dialog, 1);
        return TRUE;
    }
    preview::DrawBackground(state->bits);
    state->renderer.Render(state->bits, state->contrast);
    SetWindowIcons(dialog);
    return FALSE;  // no default focus
}

void OnHScroll(HWND dialog, WPARAM wParam, LPARAM lParam) {
    HWND trackbar = GetDlgItem(dialog, IDC_CONTRAST);
    SettingsState* state = State(dialog);
    if (reinterpret_cast<HWND>(lParam) != trackbar || state == nullptr) return;
    auto& renderer = state->renderer;
    const std::optional<int> position =
        TrackbarStep(LOWORD(wParam), renderer.contrastPosition, HIWORD(wParam));
    if (!position) return;
    renderer.contrastPosition = *position;
    // The trackbar has normally moved by the same step already; the mouse
    // wheel moves it by several lines per notch, so it is set to the value
    // shown to keep the two in agreement.
    SendMessageW(trackbar, TBM_SETPOS, TRUE, *position);
    SetItemText(dialog, IDC_EXPONENT, FormatExponent(state->contrast.exponent[*position]));
    if (renderer.Render(state->bits, state->contrast)) InvalidatePreview(dialog);
}

BOOL OnDrawItem(HWND dialog, const DRAWITEMSTRUCT* item) {
    SettingsState* state = State(dialog);
    if (item->CtlID != IDC_PREVIEW || state == nullptr || state->bitmap == nullptr) return FALSE;
    HDC memory = CreateCompatibleDC(item->hDC);
    SetMapMode(memory, GetMapMode(item->hDC));
    HGDIOBJ old = SelectObject(memory, state->bitmap);
    // The control grows with the DPI and the bitmap does not: it is stretched
    // over the whole control, nearest-neighbour, so that each grey step stays
    // a sharp band instead of a blur into its neighbours.
    const RECT& r = item->rcItem;
    SetStretchBltMode(item->hDC, COLORONCOLOR);
    StretchBlt(item->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0,
               preview::kWidth, preview::kHeight, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    return TRUE;
}

void OnDropFiles(HWND dialog, HDROP drop) {
    // The first of several dropped paths is taken, as one source at a time.
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    const UINT got = length > 0 ? DragQueryFileW(drop, 0, path.data(), length + 1) : 0;
    DragFinish(drop);
    if (got == 0) return;
    path.resize(got);
    const int picture = UsePathAsSource(dialog, Utf8(path));
    if (picture > 0) CheckPicture(dialog, picture);
    SetItemText(dialog, IDC_DRIVE_TEXT, SourceText(pictureSource, driveTable.selected));
}

void EnableCustomSize(HWND dialog, bool enable) {
    EnableItem(dialog, IDC_CUSTOM_WIDTH, enable);
    EnableItem(dialog, IDC_CUSTOM_HEIGHT, enable);
}

BOOL OnCommand(HWND dialog, int id) {
    SettingsState* state = State(dialog);
    switch (id) {
        case IDOK: {
            // Enter reaches here even while the button is disabled.
            if (!IsWindowEnabled(GetDlgItem(dialog, IDOK))) return TRUE;
            CollectSettings(dialog);
            return DialogBoxParamW(programInstance, MAKEINTRESOURCEW(IDD_PROGRESS), dialog,
                                   ProgressDlgProc, 0) == -1;
        }
        case IDCANCEL:
            if (state != nullptr) state->renderer.curve.reset();
            EndDialog(dialog, 1);
            return TRUE;
        case IDC_SIZE_CUSTOM:
            EnableCustomSize(dialog, true);
            return FALSE;
        case IDC_DRIVE_SELECT:
            if (DialogBoxParamW(programInstance, MAKEINTRESOURCEW(IDD_DRIVE), dialog, DriveDlgProc,
                                0) == -1) {
                return TRUE;
            }
            SetItemText(dialog, IDC_DRIVE_TEXT, SourceText(pictureSource, driveTable.selected));
            return FALSE;
        case IDC_DEFAULTS:
            ApplyDefaults(dialog);
            if (state != nullptr && state->renderer.Render(state->bits, state->contrast)) {
                InvalidatePreview(dialog);
            }
            return FALSE;
        case IDC_ABOUT:
            return DialogBoxParamW(programInstance, MAKEINTRESOURCEW(IDD_ABOUT), dialog,
                                   AboutDlgProc, 0) == -1;
        default:
            break;
    }
    if (id >= IDC_SIZE_640 && id < IDC_SIZE_CUSTOM) {
        EnableCustomSize(dialog, false);
    } else if (id >= IDC_PICTURE_FIRST && id <= IDC_PICTURE_LAST) {
        bool any = false;
        for (int p = IDC_PICTURE_FIRST; p <= IDC_PICTURE_LAST; ++p) any = any || IsChecked(dialog, p);
        EnableItem(dialog, IDOK, any);
    }
    return FALSE;
}

int FirstCheckedOf(HWND dialog, int first, int last) {
    for (int id = first; id <= last; ++id) {
        if (IsChecked(dialog, id)) return id;
    }
    return 0;
}

}  // namespace

int UsePathAsSource(HWND owner, const std::string& path) {
    const OpenedPath opened = OpenPath(path);
    if (!opened.accepted) {
        ShowMessage(owner, text::PathNotUsable(path), text::kPathCaption, MB_OK | MB_ICONERROR);
        return -1;
    }
    pictureSource.folder = opened.folder;
    return opened.picture;
}

void ApplyDefaults(HWND dialog) {
    SendDlgItemMessageW(dialog, IDC_CONTRAST, TBM_SETPOS, TRUE, ContrastTable::kMiddle);
    if (SettingsState* state = State(dialog)) {
        state->renderer.contrastPosition = ContrastTable::kMiddle;
    }
    SetItemText(dialog, IDC_EXPONENT, FormatExponent(1.0));

    HDC screen = GetDC(nullptr);
    const int bitsPerPixel = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    const SIZE pixels = ScreenPixels();
    const ScreenDefaults d = DefaultsForScreen(pixels.cx, pixels.cy, bitsPerPixel);

    EnableCustomSize(dialog, d.customEnabled);
    CheckRadioButton(dialog, IDC_SIZE_640, IDC_SIZE_CUSTOM, d.sizeRadio);
    SetItemText(dialog, IDC_CUSTOM_WIDTH, d.widthText);
    SetItemText(dialog, IDC_CUSTOM_HEIGHT, d.heightText);
    CheckRadioButton(dialog, IDC_MODE_MONO, IDC_MODE_FULL, d.colorRadio);
    CheckRadioButton(dialog, IDC_NAME_SHORT, IDC_NAME_EACH, d.namingRadio);
    CheckDlgButton(dialog, IDC_CROP_TO_ASPECT, d.cropToAspect ? BST_CHECKED : BST_UNCHECKED);
}

void CollectSettings(HWND dialog) {
    SettingsState* state = State(dialog);
    if (state == nullptr) return;
    SettingsControls controls;
    for (int i = 0; i < disc::kPictureCount; ++i) {
        controls.pictureChecked[i] = IsChecked(dialog, IDC_PICTURE_FIRST + i);
    }
    controls.sizeRadio = FirstCheckedOf(dialog, IDC_SIZE_640, IDC_SIZE_CUSTOM);
    controls.widthText = ItemText(dialog, IDC_CUSTOM_WIDTH);
    controls.heightText = ItemText(dialog, IDC_CUSTOM_HEIGHT);
    controls.colorRadio = FirstCheckedOf(dialog, IDC_MODE_MONO, IDC_MODE_FULL);
    controls.namingRadio = FirstCheckedOf(dialog, IDC_NAME_SHORT, IDC_NAME_EACH);
    controls.cropToAspect = IsChecked(dialog, IDC_CROP_TO_ASPECT);
    controls.contrastPosition = state->renderer.contrastPosition;
    ::CollectSettings(controls, state->contrast, &conversionSettings);
}

const std::uint8_t* PreviewBits(HWND dialog) {
    SettingsState* state = State(dialog);
    return state != nullptr ? state->bits : nullptr;
}

INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_HSCROLL:
            OnHScroll(dialog, wParam, lParam);
            return FALSE;
        case WM_DRAWITEM:
            return OnDrawItem(dialog, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        case WM_COMMAND:
            return OnCommand(dialog, LOWORD(wParam));
        case WM_DROPFILES:
            OnDropFiles(dialog, reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case WM_DPICHANGED:
            // Moved to a screen of another scaling: Windows resizes the dialog
            // and its controls; the icons and the preview follow.
            SetWindowIcons(dialog);
            InvalidatePreview(dialog);
            return FALSE;
        case WM_DESTROY:
            DestroyWindowIcons(dialog);
            delete State(dialog);
            SetWindowLongPtrW(dialog, DWLP_USER, 0);
            return FALSE;
        default:
            return FALSE;
    }
}
