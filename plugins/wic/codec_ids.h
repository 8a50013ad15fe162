// The identities under which Windows knows the RQ6 decoder, and the texts
// its registration and its component information show.
#pragma once

#include <windows.h>

namespace wic {

// The decoder's class.
inline constexpr GUID kDecoderClsid = {
    0xa59266a6, 0xfccd, 0x4f19, {0x81, 0xff, 0x26, 0x06, 0x26, 0x64, 0x4f, 0x72}};
// The RQ6 container format.
inline constexpr GUID kContainerFormat = {
    0xc39bab61, 0xa971, 0x42ab, {0xa8, 0xbb, 0x2c, 0x50, 0x6b, 0x2a, 0x03, 0x31}};
// The vendor of the decoder.
inline constexpr GUID kVendor = {
    0xbcbc6eb4, 0x9d07, 0x4e97, {0xa0, 0xb8, 0x74, 0xe7, 0x40, 0x24, 0x40, 0xaa}};

inline constexpr wchar_t kFriendlyName[] = L"Tavrel RQ6 Decoder";
inline constexpr wchar_t kAuthor[] = L"the Tavrel authors";
inline constexpr wchar_t kMimeType[] = L"image/x-rq6";
inline constexpr wchar_t kExtension[] = L".rq6";

}  // namespace wic
