// The drive selection dialog and the About box.
#include <windows.h>

#include "resources/resource.h"
#include "ui/dialogs_win.h"
#include "ui/drives.h"
#include "ui/records.h"
#include "ui/ui_text.h"
#include "ui/win_util_win.h"

INT_PTR CALLBACK DriveDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            for (int i = 0; i < kDriveCount; ++i) {
                EnableItem(dialog, IDC_DRIVE_FIRST + i, driveTable.usable[i] != 0);
            }
            CheckRadioButton(dialog, IDC_DRIVE_FIRST, IDC_DRIVE_LAST,
                             IDC_DRIVE_FIRST + driveTable.selected);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                bool checked[kDriveCount];
                for (int i = 0; i < kDriveCount; ++i) {
                    checked[i] = IsChecked(dialog, IDC_DRIVE_FIRST + i);
                }
                driveTable.selected = FirstChecked(checked);
            } else if (LOWORD(wParam) != IDCANCEL) {
                return FALSE;
            }
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetItemText(dialog, IDC_ABOUT_TITLE, text::kProductTitle);
            SetItemText(dialog, IDC_ABOUT_NOTICE, FirstLine(text::kLegalNotice));
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}
