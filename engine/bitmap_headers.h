// Byte layouts of the 14-byte bitmap file header and the 40-byte info header,
// read and written little-endian whatever the host's byte order.
#pragma once

#include <cstdint>

namespace bmp {

inline constexpr std::uint32_t kFileHeaderSize = 14;
inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kHeadersSize = kFileHeaderSize + kInfoHeaderSize;

// Offsets inside the file header.
inline constexpr int kBfType = 0;
inline constexpr int kBfSize = 2;
inline constexpr int kBfReserved1 = 6;
inline constexpr int kBfReserved2 = 8;
inline constexpr int kBfOffBits = 10;

// Offsets inside the info header.
inline constexpr int kBiSize = 0;
inline constexpr int kBiWidth = 4;
inline constexpr int kBiHeight = 8;
inline constexpr int kBiPlanes = 12;
inline constexpr int kBiBitCount = 14;
inline constexpr int kBiCompression = 16;
inline constexpr int kBiSizeImage = 20;
inline constexpr int kBiXPelsPerMeter = 24;
inline constexpr int kBiYPelsPerMeter = 28;
inline constexpr int kBiClrUsed = 32;
inline constexpr int kBiClrImportant = 36;

inline std::uint16_t Get16(const std::uint8_t* p, int at) {
    return static_cast<std::uint16_t>(p[at] | p[at + 1] << 8);
}
inline std::uint32_t Get32(const std::uint8_t* p, int at) {
    return static_cast<std::uint32_t>(p[at]) | static_cast<std::uint32_t>(p[at + 1]) << 8 |
           static_cast<std::uint32_t>(p[at + 2]) << 16 | static_cast<std::uint32_t>(p[at + 3]) << 24;
}
inline std::int32_t GetSigned32(const std::uint8_t* p, int at) {
    return static_cast<std::int32_t>(Get32(p, at));
}
inline void Put16(std::uint8_t* p, int at, std::uint32_t v) {
    p[at] = static_cast<std::uint8_t>(v);
    p[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace bmp
