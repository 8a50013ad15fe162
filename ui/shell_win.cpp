#include "ui/shell_win.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "ui/picture_folder.h"
#include "ui/ui_text.h"
#include "ui/win_util_win.h"

namespace {

// The file dialog of Windows Vista and later, in its folder mode. False when
// it is not there (the caller falls back); *path stays empty on a cancel.
bool PickWithFileDialog(HWND owner, std::wstring* path) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog)))) {
        return false;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(Wide(text::kPickFolderTitle).c_str());
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        wchar_t* name = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
            *path = name;
            CoTaskMemFree(name);
        }
        item->Release();
    }
    dialog->Release();
    return true;
}

std::wstring PickWithFolderBrowser(HWND owner) {
    const std::wstring title = Wide(text::kPickFolderTitle);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr) return {};
    wchar_t path[MAX_PATH] = {};
    const bool named = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    return named ? path : std::wstring();
}

LSTATUS SetText(HKEY key, const wchar_t* name, const wchar_t* value) {
    const DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

}  // namespace

std::wstring PickFolder(HWND owner) {
    // Both pickers are COM objects of the shell, which need COM on this
    // thread; a thread that has it already keeps it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    std::wstring path;
    if (!PickWithFileDialog(owner, &path)) path = PickWithFolderBrowser(owner);
    if (SUCCEEDED(com)) CoUninitialize();
    return path;
}

std::vector<std::wstring> CommandLinePaths() {
    std::vector<std::wstring> paths;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return paths;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = Wide(ArgumentPath(Utf8(arguments[i])));
        const DWORD need = GetFullPathNameW(argument.c_str(), 0, nullptr, nullptr);
        std::wstring full(need, L'\0');
        const DWORD got =
            need > 0 ? GetFullPathNameW(argument.c_str(), need, full.data(), nullptr) : 0;
        paths.push_back(got > 0 && got < need ? full.substr(0, got) : argument);
    }
    LocalFree(arguments);
    return paths;
}

DWORD SetDesktopWallpaper(const std::wstring& fullPath) {
    HKEY desktop = nullptr;
    LSTATUS error = RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                                    KEY_SET_VALUE, nullptr, &desktop, nullptr);
    if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
    // "Fill": the picture covers the screen; a wallpaper made at the
    // screen's size is then shown pixel for pixel.
    error = SetText(desktop, L"WallpaperStyle", L"10");
    if (error == ERROR_SUCCESS) error = SetText(desktop, L"TileWallpaper", L"0");
    RegCloseKey(desktop);
    if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
    std::wstring path = fullPath;
    if (SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, path.data(),
                              SPIF_UPDATEINIFILE | SPIF_SENDCHANGE)) {
        return 0;
    }
    const DWORD failure = GetLastError();
    return failure != 0 ? failure : ERROR_GEN_FAILURE;
}

std::string SystemMessage(DWORD error) {
    wchar_t* words = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::wstring text = n > 0 && words != nullptr ? std::wstring(words, n) : std::wstring();
    if (words != nullptr) LocalFree(words);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) text = L"(" + std::to_wstring(error) + L")";
    return Utf8(text);
}
