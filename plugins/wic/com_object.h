// What every COM object of the decoder shares: its reference count, and the
// module's count of live objects and server locks, which tells Windows
// whether the DLL may be unloaded.
#pragma once

#include <windows.h>

#include <new>

namespace wic {

void ModuleAddRef();
void ModuleRelease();
bool ModuleInUse();

// The DLL's own module handle, recorded when it is loaded.
HMODULE ThisModule();
void SetThisModule(HMODULE module);

// The reference count of one object, which starts with the creator's
// reference. The object counts towards the module while it lives.
class RefCount {
public:
    RefCount() { ModuleAddRef(); }
    ~RefCount() { ModuleRelease(); }
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;

    ULONG Add() { return static_cast<ULONG>(InterlockedIncrement(&count)); }
    ULONG Drop() { return static_cast<ULONG>(InterlockedDecrement(&count)); }

private:
    LONG count = 1;
};

// Runs a method's body and turns anything it throws into an HRESULT: no
// exception may reach the program that called through COM.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace wic
