// Text encodings at the tool's edges. Picture comments are Japanese Windows
// text (code page 932); the terminal, PNG's international text and the
// command line are UTF-8; PNG's plain text chunks are Latin-1.
#pragma once

#include <string>

namespace text {

// False when `in` is not valid in the source encoding or has a character
// the target encoding lacks; *out is then unspecified.
bool Cp932ToUtf8(const std::string& in, std::string* out);
bool Utf8ToCp932(const std::string& in, std::string* out);
bool Latin1ToUtf8(const std::string& in, std::string* out);

// Printable ASCII as it is, every other byte as \xNN: a way to show bytes
// that are not valid text.
std::string Escaped(const std::string& raw);

// A comment for display: converted to UTF-8, or escaped when it is not
// valid code page 932 text.
std::string CommentForDisplay(const std::string& cp932);

}  // namespace text
