// The four dialogs of the Windows program, each a plain dialog procedure over
// its resource template (resources/resource.h names the templates). Every
// dialog ends with result 1; callers only look for -1, a dialog that could not
// be created.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DriveDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Asks for the folder of the pictures with the system's folder picker and
// makes it the source; a folder without pictures is refused with a message,
// and with `again` the picker comes back. False when the user cancels (or,
// without `again`, after a refusal).
bool AskForPictureFolder(HWND owner, bool again);

// Makes a path the program is given (a folder, or an RQ6 file, whose box is
// then checked in the settings dialog) the source of the pictures; anything
// else is refused with a message. The picture's number (6 ... 10), 0 for an
// accepted path that names no picture, -1 when refused.
int UsePathAsSource(HWND owner, const std::string& path);

// Settings dialog operations, also used by the tests.
void ApplyDefaults(HWND dialog);
void CollectSettings(HWND dialog);
// The preview picture's pixels (bottom-up 24-bit), null before initialisation.
const std::uint8_t* PreviewBits(HWND dialog);
