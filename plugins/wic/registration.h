// The registry entries through which Windows finds the decoder: its class
// and WIC's list of decoders, and for Explorer the .rq6 type and the
// system's thumbnail provider for WIC pictures. Written for all users or
// for the current user alone; removing them takes away exactly what
// registering added.
#pragma once

#include <windows.h>

#include <string>

namespace wic {

enum class Scope { kAllUsers, kCurrentUser };

// The scope a DllInstall command line names: "user" the current user, none
// all users. False for anything else.
bool ScopeFromCommandLine(const wchar_t* commandLine, Scope* scope);

// Writes every entry, naming `dllPath` as the server. A registration that
// fails halfway is removed again.
HRESULT Register(Scope scope, const std::wstring& dllPath);

// Removes the decoder's keys and the values it set; keys that this leaves
// empty go too. The entries for Explorer stay while the decoder of the
// other architecture (32- or 64-bit) is still registered in the scope,
// since both share them. Nothing registered is not a failure.
HRESULT Unregister(Scope scope);

}  // namespace wic
