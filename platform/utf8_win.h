// UTF-8 <-> UTF-16 for the Windows build.  The program keeps all text in UTF-8
// and converts only at the wide-character Win32 calls, so the ANSI code page of
// the machine never matters.
#pragma once

#include <string>

namespace platform {

// Empty for a null pointer or for input that is not valid UTF-8; callers that
// must tell an empty string from a bad one check the input first.
std::wstring Utf8ToWide(const char* utf8);

// Empty for a null pointer or for unpaired surrogates.
std::string WideToUtf8(const wchar_t* wide);

}  // namespace platform
