// The progress dialog: a view over the batch run, stepped by a 10 ms timer.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <string>

#include "resources/resource.h"
#include "ui/batch_run.h"
#include "ui/dialogs_win.h"
#include "ui/shell_win.h"
#include "ui/ui_text.h"
#include "ui/win_util_win.h"

namespace {

constexpr UINT_PTR kStepTimer = 1;
constexpr UINT kStepMilliseconds = 10;
// The save dialog's buffers leave room for the ".bmp" that may be appended.
constexpr DWORD kSaveBufferChars = 252;

UINT IconFlags(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kInformation: return MB_ICONINFORMATION;
        case MessageIcon::kQuestion: return MB_ICONQUESTION;
        case MessageIcon::kError: break;
    }
    return MB_ICONERROR;
}

class ProgressView final : public BatchView {
public:
    explicit ProgressView(HWND dialog) : dialog_(dialog) {}

    void Notify(const std::string& message, const char* caption, MessageIcon icon) override {
        ShowMessage(dialog_, message, caption, MB_OK | IconFlags(icon));
    }

    bool AskYesNo(const char* message, const char* caption) override {
        return ShowMessage(dialog_, message, caption,
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    }

    std::optional<std::string> RunSaveDialog(std::string* fullPath) override {
        wchar_t file[kSaveBufferChars] = {};
        wchar_t title[kSaveBufferChars] = {};
        const std::wstring last = Wide(*fullPath);
        last.copy(file, kSaveBufferChars - 1);
        std::wstring filter = Wide(text::kSaveFilterName);
        filter += L'\0';
        filter += Wide(text::kSaveFilterPattern);
        filter += L'\0';  // the string's own terminator ends the list
        const std::wstring caption = Wide(text::kSaveTitle);

        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = dialog_;
        ofn.hInstance = programInstance;
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file;
        ofn.nMaxFile = kSaveBufferChars;
        ofn.lpstrFileTitle = title;
        ofn.nMaxFileTitle = kSaveBufferChars;
        ofn.lpstrTitle = caption.c_str();
        ofn.Flags = OFN_OVERWRITEPROMPT | OFN_NONETWORKBUTTON | OFN_EXPLORER | OFN_LONGNAMES;
        if (!GetSaveFileNameW(&ofn)) return std::nullopt;
        file[kSaveBufferChars - 1] = L'\0';
        title[kSaveBufferChars - 1] = L'\0';
        *fullPath = Utf8(file);
        // The output is created by its bare name in the current directory, so
        // the chosen folder becomes the current directory (for the rest of the
        // process, as later pattern-named runs follow it too).
        if (ofn.nFileOffset > 0 && ofn.nFileOffset < kSaveBufferChars) {
            const std::wstring folder(file, ofn.nFileOffset);
            SetCurrentDirectoryW(folder.c_str());
        }
        return Utf8(title);
    }

    std::string CurrentDirectory() override { return Utf8(CurrentDirectoryW()); }

    std::string SystemReason(int error) override {
        return SystemMessage(static_cast<DWORD>(error));
    }

    void ShowPictureInfo(const PictureInfo& info) override {
        SetDlgItemTextW(dialog_, IDC_COMMENT,
                        Cp932ToWide(info.comment, CommentLength(info.comment)).c_str());
        SetItemText(dialog_, IDC_IN_DRIVE, info.source);
        SetItemText(dialog_, IDC_OUT_DIR, info.directory);
        SetItemText(dialog_, IDC_OUT_FILE, info.fileName);
        SetItemText(dialog_, IDC_OUT_SIZE, std::to_string(info.kilobytes));
    }

    void ShowPercent(unsigned percent) override {
        SendDlgItemMessageW(dialog_, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
        SetItemText(dialog_, IDC_PERCENT, std::to_string(percent));
    }

    void ShowFinished(const std::string& lastWritten) override {
        SetItemText(dialog_, IDC_STATUS_LINE, text::kFinished);
        EnableItem(dialog_, IDC_AUTO_CLOSE, false);
        EnableItem(dialog_, IDOK, true);
        EnableItem(dialog_, IDC_SET_WALLPAPER, !lastWritten.empty());
        // The abort button may hold the focus; hand it to the one left to press.
        SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog_, IDOK)),
                     TRUE);
        EnableItem(dialog_, IDCANCEL, false);
    }

private:
    HWND dialog_;
};

void StopTimer(HWND dialog) {
    if (batchRun.timerRunning) {
        KillTimer(dialog, kStepTimer);
        batchRun.timerRunning = 0;
    }
}

BOOL OnInitDialog(HWND dialog) {
    ProgressView view(dialog);
    if (!batchRun.Start(view)) {
        batchRun.Close();
        EndDialog(dialog, 1);
        return TRUE;
    }
    SetTimer(dialog, kStepTimer, kStepMilliseconds, nullptr);
    batchRun.timerRunning = 1;
    return FALSE;
}

BOOL OnTimer(HWND dialog) {
    ProgressView view(dialog);
    if (batchRun.OnTick(view) != BatchRun::Tick::kFinished) return FALSE;
    StopTimer(dialog);
    if (IsChecked(dialog, IDC_AUTO_CLOSE)) {
        batchRun.Close();
        EndDialog(dialog, 1);
    }
    return TRUE;
}

// "壁紙に設定": the last picture the run wrote whole becomes the wallpaper.
void SetWallpaper(HWND dialog) {
    const DWORD error = SetDesktopWallpaper(Wide(batchRun.lastWritten));
    if (error == 0) {
        SetItemText(dialog, IDC_STATUS_LINE, text::kWallpaperSet);
    } else {
        ShowMessage(dialog, std::string(text::kWallpaperFailed) + "\n" + SystemMessage(error),
                    text::kWallpaperCaption, MB_OK | MB_ICONERROR);
    }
}

BOOL OnCommand(HWND dialog, int id) {
    if (id == IDC_SET_WALLPAPER) {
        if (IsWindowEnabled(GetDlgItem(dialog, id)) && !batchRun.lastWritten.empty())
            SetWallpaper(dialog);
        return TRUE;
    }
    // The Enter and Escape keys and the close box send these commands even
    // while the buttons are disabled: confirming is for a finished run only,
    // aborting for a running one.
    if ((id != IDOK && id != IDCANCEL) || !IsWindowEnabled(GetDlgItem(dialog, id))) return FALSE;
    StopTimer(dialog);
    if (id == IDOK) {
        batchRun.Close();
    } else {
        ProgressView view(dialog);
        batchRun.Abort(view);
    }
    EndDialog(dialog, 1);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_TIMER:
            return OnTimer(dialog);
        case WM_COMMAND:
            return OnCommand(dialog, LOWORD(wParam));
        case WM_DESTROY:
            StopTimer(dialog);
            batchRun.Close();
            return FALSE;
        default:
            return FALSE;
    }
}
