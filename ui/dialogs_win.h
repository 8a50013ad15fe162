// The four dialogs of the Windows program, each a plain dialog procedure over
// its resource template (resources/resource.h names the templates). Every
// dialog ends with result 1; callers only look for -1, a dialog that could not
// be created.
#pragma once

#include <windows.h>

#include <cstdint>

INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DriveDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Settings dialog operations, also used by the tests.
void ApplyDefaults(HWND dialog);
void CollectSettings(HWND dialog);
// The preview picture's pixels (bottom-up 24-bit), null before initialisation.
const std::uint8_t* PreviewBits(HWND dialog);
