#include "plugins/wic/registration.h"

#include <shlobj.h>
#include <wincodec.h>

#include <cstring>

#include "engine/rq6_layout.h"
#include "plugins/wic/codec_ids.h"
#include "tavrel_version.h"

namespace wic {

namespace {

constexpr wchar_t kClassesKey[] = L"Software\\Classes";
// Explorer's slot for a file type's thumbnail handler (IThumbnailProvider),
// and the handler Windows itself provides for every picture WIC decodes.
constexpr wchar_t kThumbnailSlot[] = L"{e357fccd-a995-4576-b01f-234630154e96}";
constexpr wchar_t kWicThumbnailProvider[] = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";
constexpr wchar_t kPerceivedType[] = L"image";
// WIC's component schema that the entries follow.
constexpr wchar_t kSpecVersion[] = L"1.0.0.0";
// Every RQ6 file starts with its magic bytes (rq6::kMagicBytes), compared whole.
constexpr BYTE kSignatureMask[rq6::kMagicSize] = {0xFF, 0xFF, 0xFF, 0xFF};

#ifdef _WIN64
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
// Ignored on 32-bit Windows, where there is no other view.
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;  // up to the terminator StringFromGUID2 counts in
}

std::wstring DecoderKey() { return L"CLSID\\" + GuidText(kDecoderClsid); }
std::wstring InstanceKey() {
    return L"CLSID\\" + GuidText(CATID_WICBitmapDecoders) + L"\\Instance\\" +
           GuidText(kDecoderClsid);
}
std::wstring ParentOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return path.substr(0, slash == std::wstring::npos ? 0 : slash);
}
std::wstring ShellExKey() {
    return std::wstring(L"SystemFileAssociations\\") + kExtension + L"\\ShellEx\\" + kThumbnailSlot;
}

HKEY RootOf(Scope scope) {
    return scope == Scope::kAllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring Widened(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

// Writes keys and values below the classes key of one scope. The first
// failure sticks and everything after it is skipped.
class Writer {
public:
    explicit Writer(Scope scope) {
        error = RegCreateKeyExW(RootOf(scope), kClassesKey, 0, nullptr, 0, KEY_CREATE_SUB_KEY,
                                nullptr, &classes, nullptr);
    }
    ~Writer() {
        Close();
        if (classes) RegCloseKey(classes);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Opens `path`, creating it and its parents; the values that follow go there.
    void Key(const std::wstring& path) {
        Close();
        if (error == ERROR_SUCCESS) {
            error = RegCreateKeyExW(classes, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                    &current, nullptr);
        }
    }
    void String(const wchar_t* name, const std::wstring& text) {
        Set(name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    void Dword(const wchar_t* name, DWORD value) { Set(name, REG_DWORD, &value, sizeof value); }
    void Binary(const wchar_t* name, const BYTE* bytes, DWORD size) {
        Set(name, REG_BINARY, bytes, size);
    }

    LONG error = ERROR_SUCCESS;

private:
    void Set(const wchar_t* name, DWORD type, const void* data, std::size_t size) {
        if (error == ERROR_SUCCESS) {
            error = RegSetValueExW(current, name, 0, type, static_cast<const BYTE*>(data),
                                   static_cast<DWORD>(size));
        }
    }
    void Close() {
        if (current) RegCloseKey(current);
        current = nullptr;
    }

    HKEY classes = nullptr;
    HKEY current = nullptr;
};

bool IsEmpty(HKEY classes, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(classes, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD subkeys = 1, values = 1;
    const LONG e = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                    &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return e == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

// Removes `path` and then each of its parents, as long as they are empty.
void RemoveEmpty(HKEY classes, std::wstring path) {
    while (!path.empty() && IsEmpty(classes, path) &&
           RegDeleteKeyW(classes, path.c_str()) == ERROR_SUCCESS) {
        path = ParentOf(path);
    }
}

// Removes a value of ours: only while it still holds what we wrote.
void RemoveValue(HKEY classes, const std::wstring& path, const wchar_t* name,
                 const wchar_t* ours) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(classes, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    wchar_t text[64] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ && CompareStringOrdinal(text, -1, ours, -1, TRUE) == CSTR_EQUAL) {
        RegDeleteValueW(key, name);
    }
    RegCloseKey(key);
}

LONG RemoveTree(HKEY classes, const std::wstring& path) {
    const LONG e = RegDeleteTreeW(classes, path.c_str());
    return e == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : e;
}

bool OtherArchitectureRegistered(Scope scope) {
    const std::wstring server =
        std::wstring(kClassesKey) + L"\\" + DecoderKey() + L"\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExW(RootOf(scope), server.c_str(), 0, KEY_QUERY_VALUE | kOtherView, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Explorer keeps thumbnails it once failed to make; this tells it that file
// types changed, so that it asks again.
void TellExplorer() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

}  // namespace

bool ScopeFromCommandLine(const wchar_t* commandLine, Scope* scope) {
    if (!commandLine || !*commandLine) {
        *scope = Scope::kAllUsers;
        return true;
    }
    if (CompareStringOrdinal(commandLine, -1, L"user", -1, TRUE) == CSTR_EQUAL) {
        *scope = Scope::kCurrentUser;
        return true;
    }
    return false;
}

HRESULT Register(Scope scope, const std::wstring& dllPath) {
    Writer w(scope);
    w.Key(DecoderKey());
    w.String(nullptr, kFriendlyName);
    w.String(L"FriendlyName", kFriendlyName);
    w.String(L"Author", kAuthor);
    w.String(L"Vendor", GuidText(kVendor));
    w.String(L"ContainerFormat", GuidText(kContainerFormat));
    w.String(L"Version", Widened(TAVREL_VERSION));
    w.String(L"SpecVersion", kSpecVersion);
    w.String(L"MimeTypes", kMimeType);
    w.String(L"FileExtensions", kExtension);
    w.Dword(L"SupportAnimation", 0);
    w.Dword(L"SupportChromakey", 0);
    w.Dword(L"SupportLossless", 1);
    w.Dword(L"SupportMultiframe", 0);
    w.Key(DecoderKey() + L"\\InprocServer32");
    w.String(nullptr, dllPath);
    w.String(L"ThreadingModel", L"Both");
    w.Key(DecoderKey() + L"\\Formats\\" + GuidText(GUID_WICPixelFormat48bppRGB));
    w.Key(DecoderKey() + L"\\Patterns\\0");
    w.Dword(L"Position", 0);
    w.Dword(L"Length", sizeof rq6::kMagicBytes);
    w.Binary(L"Pattern", rq6::kMagicBytes, sizeof rq6::kMagicBytes);
    w.Binary(L"Mask", kSignatureMask, sizeof kSignatureMask);
    w.Key(InstanceKey());
    w.String(L"CLSID", GuidText(kDecoderClsid));
    w.String(L"FriendlyName", kFriendlyName);
    w.Key(kExtension);
    w.String(L"Content Type", kMimeType);
    w.String(L"PerceivedType", kPerceivedType);
    w.Key(ShellExKey());
    w.String(nullptr, kWicThumbnailProvider);
    if (w.error != ERROR_SUCCESS) {
        Unregister(scope);
        return HRESULT_FROM_WIN32(w.error);
    }
    TellExplorer();
    return S_OK;
}

HRESULT Unregister(Scope scope) {
    HKEY classes = nullptr;
    LONG e = RegOpenKeyExW(RootOf(scope), kClassesKey, 0, KEY_ALL_ACCESS, &classes);
    if (e == ERROR_FILE_NOT_FOUND) return S_OK;
    if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
    e = RemoveTree(classes, DecoderKey());
    const LONG instance = RemoveTree(classes, InstanceKey());
    if (e == ERROR_SUCCESS) e = instance;
    RemoveEmpty(classes, ParentOf(InstanceKey()));
    if (!OtherArchitectureRegistered(scope)) {
        RemoveValue(classes, kExtension, L"Content Type", kMimeType);
        RemoveValue(classes, kExtension, L"PerceivedType", kPerceivedType);
        RemoveValue(classes, ShellExKey(), nullptr, kWicThumbnailProvider);
        RemoveEmpty(classes, ShellExKey());
        RemoveEmpty(classes, kExtension);
    }
    RegCloseKey(classes);
    TellExplorer();
    return HRESULT_FROM_WIN32(e);
}

}  // namespace wic
