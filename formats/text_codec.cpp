#include "formats/text_codec.h"

#include <iconv.h>

#include <cstdio>

namespace text {

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    // Four output bytes per input byte covers every pair used here (a Latin-1
    // byte becomes at most two UTF-8 bytes, a code page 932 byte at most three).
    std::string buffer(4 * in.size() + 4, '\0');
    std::string source = in;
    char* inPtr = source.data();
    std::size_t inLeft = source.size();
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    // Flush any shift state, so that a stateful encoding cannot leave the
    // output unfinished.
    ok = ok && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) return false;
    buffer.resize(buffer.size() - outLeft);
    *out = std::move(buffer);
    return true;
}

}  // namespace

bool Cp932ToUtf8(const std::string& in, std::string* out) {
    return Convert("UTF-8", "CP932", in, out);
}

bool Utf8ToCp932(const std::string& in, std::string* out) {
    return Convert("CP932", "UTF-8", in, out);
}

bool Latin1ToUtf8(const std::string& in, std::string* out) {
    return Convert("UTF-8", "ISO-8859-1", in, out);
}

std::string Escaped(const std::string& raw) {
    std::string escaped;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7f) {
            escaped += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            escaped += buf;
        }
    }
    return escaped;
}

std::string CommentForDisplay(const std::string& cp932) {
    std::string utf8;
    return Cp932ToUtf8(cp932, &utf8) ? utf8 : Escaped(cp932);
}

}  // namespace text
