// What the program asks of the Windows shell: the folder picker, the paths
// it was started with, and the desktop's wallpaper.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Asks the user for a folder with the system's folder picker (the file
// dialog in its folder mode; the older folder browser where that is
// missing). The folder's full path, or empty when the user cancels.
std::wstring PickFolder(HWND owner);

// The program's command-line arguments after its own name, as UTF-16 (so
// that a folder named in any language arrives as named), each made a full
// path against the current directory.
std::vector<std::wstring> CommandLinePaths();

// Makes the picture at `fullPath` the desktop's wallpaper, filling the
// screen: "WallpaperStyle" 10 and "TileWallpaper" 0 in the user's desktop
// settings, then the wallpaper itself, stored and announced to running
// programs. 0, or the system's error code.
DWORD SetDesktopWallpaper(const std::wstring& fullPath);

// The system's words for an error code (without a final line break).
std::string SystemMessage(DWORD error);
