// The DLL's entry points: the module's life, the class object, and
// registration (regsvr32; DllInstall for the choice of all users or the
// current user).
#include <windows.h>
#include <olectl.h>

#include <string>

#include "plugins/wic/class_factory.h"
#include "plugins/wic/codec_ids.h"
#include "plugins/wic/com_object.h"
#include "plugins/wic/registration.h"

namespace wic {

namespace {

LONG moduleUsers = 0;
HMODULE module = nullptr;

// The DLL's full path, which the registry names as the server.
std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(ThisModule(), &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(2 * path.size());  // a long path, cut short: again with more room
    }
}

}  // namespace

void ModuleAddRef() { InterlockedIncrement(&moduleUsers); }
void ModuleRelease() { InterlockedDecrement(&moduleUsers); }
bool ModuleInUse() { return InterlockedCompareExchange(&moduleUsers, 0, 0) != 0; }
HMODULE ThisModule() { return module; }
void SetThisModule(HMODULE m) { module = m; }

}  // namespace wic

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wic::SetThisModule(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, wic::kDecoderClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return wic::ClassFactory::Create(iid, out);
}

STDAPI DllCanUnloadNow() { return wic::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    return wic::Guarded([] {
        const std::wstring path = wic::ModulePath();
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        return wic::Register(wic::Scope::kAllUsers, path);
    });
}

STDAPI DllUnregisterServer() {
    return wic::Guarded([] { return wic::Unregister(wic::Scope::kAllUsers); });
}

// regsvr32 /n /i:user registers for the current user alone, regsvr32 /u /n
// /i:user removes that again; without "user" it is all users.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    return wic::Guarded([&] {
        wic::Scope scope;
        if (!wic::ScopeFromCommandLine(commandLine, &scope)) return E_INVALIDARG;
        if (!install) return wic::Unregister(scope);
        const std::wstring path = wic::ModulePath();
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        return wic::Register(scope, path);
    });
}
