// The drive selection dialog, with the folder picker, and the About box.
#include <windows.h>

#include "resources/resource.h"
#include "ui/dialogs_win.h"
#include "ui/drives.h"
#include "ui/picture_folder.h"
#include "ui/records.h"
#include "ui/shell_win.h"
#include "ui/ui_text.h"
#include "ui/win_util_win.h"

bool AskForPictureFolder(HWND owner, bool again) {
    for (;;) {
        const std::wstring folder = PickFolder(owner);
        if (folder.empty()) return false;
        if (FolderHoldsPictures(Utf8(folder))) {
            pictureSource.folder = Utf8(folder);
            return true;
        }
        ShowMessage(owner, text::FolderHasNoPictures(), text::kFolderCaption, MB_OK | MB_ICONERROR);
        if (!again) return false;
    }
}

INT_PTR CALLBACK DriveDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            for (int i = 0; i < kDriveCount; ++i) {
                EnableItem(dialog, IDC_DRIVE_FIRST + i, driveTable.usable[i] != 0);
            }
            // With a folder as the source no drive is checked, and "決定" keeps it.
            CheckRadioButton(
                dialog, IDC_DRIVE_FIRST, IDC_DRIVE_LAST,
                pictureSource.folder.empty() ? IDC_DRIVE_FIRST + driveTable.selected : 0);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                bool checked[kDriveCount];
                for (int i = 0; i < kDriveCount; ++i) {
                    checked[i] = IsChecked(dialog, IDC_DRIVE_FIRST + i);
                }
                ChooseDrive(FirstChecked(checked), &driveTable, &pictureSource);
            } else if (LOWORD(wParam) == IDC_DRIVE_FOLDER) {
                // A folder refused or not chosen leaves the dialog as it was.
                if (!AskForPictureFolder(dialog, false)) return TRUE;
            } else if (LOWORD(wParam) != IDCANCEL) {
                return FALSE;
            }
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

namespace {

// The About box's picture control, which the template fills with the icon at
// the size of 100 % scaling.
HWND IconControl(HWND dialog) {
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return c;
    }
    return nullptr;
}

// Gives the picture control the icon drawn for the dialog's DPI; the one it
// had is destroyed if it was ours.
void ShowIconForDpi(HWND dialog, bool ours) {
    HWND control = IconControl(dialog);
    if (control == nullptr) return;
    HICON icon = LoadProgramIcon(WindowDpi(dialog), false);
    if (icon == nullptr) return;
    HICON old = reinterpret_cast<HICON>(
        SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0));
    if (ours && old != nullptr) DestroyIcon(old);
}

}  // namespace

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetItemText(dialog, IDC_ABOUT_TITLE, text::kProductTitle);
            SetItemText(dialog, IDC_ABOUT_NOTICE, FirstLine(text::kLegalNotice));
            ShowIconForDpi(dialog, false);
            return FALSE;
        case WM_DPICHANGED:
            ShowIconForDpi(dialog, true);
            return FALSE;
        case WM_DESTROY:
            if (HWND control = IconControl(dialog)) {
                HICON icon = reinterpret_cast<HICON>(SendMessageW(control, STM_SETICON, 0, 0));
                if (icon != nullptr) DestroyIcon(icon);
            }
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}
