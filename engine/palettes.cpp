#include "engine/palettes.h"

#include "engine/color_mode.h"

namespace palettes {

namespace {

using Entry = std::array<std::uint8_t, 3>;  // red, green, blue

// Entries 1..7 are the dark (128) versions of the hues red = bit 0, green =
// bit 1, blue = bit 2, entries 9..15 the full (255) ones; 7 is light grey and 8
// dark grey. Mode 4's hue mask indexes this order directly.
constexpr std::uint32_t kSystemColourCount = 16;
constexpr Entry kSystemColours[kSystemColourCount] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};
static_assert(kSystemColourCount == kCubeFirstIndex, "the cube follows the system colours");

// The full scale of a palette channel.
constexpr std::uint32_t kFull = 255;

template <std::size_t N>
constexpr void Store(std::array<std::uint8_t, N>& p, std::uint32_t i, std::uint32_t r,
                     std::uint32_t g, std::uint32_t b) {
    const std::size_t at = kEntryBytes * i;
    p[at] = static_cast<std::uint8_t>(b);
    p[at + 1] = static_cast<std::uint8_t>(g);
    p[at + 2] = static_cast<std::uint8_t>(r);
    p[at + 3] = 0;
}

template <std::size_t N>
constexpr void StoreSystemColours(std::array<std::uint8_t, N>& p) {
    for (std::uint32_t i = 0; i < kSystemColourCount; ++i) {
        Store(p, i, kSystemColours[i][0], kSystemColours[i][1], kSystemColours[i][2]);
    }
}

constexpr std::uint32_t Rounded(std::uint32_t numerator, std::uint32_t denominator) {
    return (2 * numerator + denominator) / (2 * denominator);
}

constexpr std::array<std::uint8_t, 16 * kEntryBytes> MakeSystem16() {
    std::array<std::uint8_t, 16 * kEntryBytes> p{};
    StoreSystemColours(p);
    return p;
}

constexpr std::array<std::uint8_t, 16 * kEntryBytes> MakeGray16() {
    std::array<std::uint8_t, 16 * kEntryBytes> p{};
    // Steps of 16; the top grey is white, so the last step is 31 rather than 16.
    for (std::uint32_t i = 0; i < 16; ++i) {
        const std::uint32_t v = i < 15 ? 16 * i : kFull;
        Store(p, i, v, v, v);
    }
    return p;
}

constexpr std::array<std::uint8_t, 256 * kEntryBytes> MakeColor256() {
    std::array<std::uint8_t, 256 * kEntryBytes> p{};
    StoreSystemColours(p);
    // Each channel in equal steps from 0 to full scale, rounded (blue: 0,
    // 128, 255).
    for (std::uint32_t b = 0; b < kCubeBlueLevels; ++b) {
        for (std::uint32_t g = 0; g < kCubeGreenLevels; ++g) {
            for (std::uint32_t r = 0; r < kCubeRedLevels; ++r) {
                Store(p, kCubeFirstIndex + kCubeBlueStride * b + kCubeGreenStride * g + r,
                      Rounded(kFull * r, kCubeRedLevels - 1),
                      Rounded(kFull * g, kCubeGreenLevels - 1),
                      Rounded(kFull * b, kCubeBlueLevels - 1));
            }
        }
    }
    return p;
}

constexpr std::array<std::uint8_t, 256 * kEntryBytes> MakeGray256() {
    std::array<std::uint8_t, 256 * kEntryBytes> p{};
    for (std::uint32_t i = 0; i < 256; ++i) Store(p, i, i, i, i);
    return p;
}

}  // namespace

const std::array<std::uint8_t, 2 * kEntryBytes> kMono = {0, 0, 0, 0, 255, 255, 255, 0};
const std::array<std::uint8_t, 16 * kEntryBytes> kSystem16 = MakeSystem16();
const std::array<std::uint8_t, 16 * kEntryBytes> kGray16 = MakeGray16();
const std::array<std::uint8_t, 256 * kEntryBytes> kColor256 = MakeColor256();
const std::array<std::uint8_t, 256 * kEntryBytes> kGray256 = MakeGray256();

const std::uint8_t* ForMode(std::uint32_t colorMode, std::uint32_t* bytes) {
    const std::uint8_t* p = nullptr;
    std::uint32_t n = 0;
    switch (colorMode) {
        case kModeMono: p = kMono.data(), n = kMono.size(); break;
        case kModeSystem16: p = kSystem16.data(), n = kSystem16.size(); break;
        case kModeGray16: p = kGray16.data(), n = kGray16.size(); break;
        case kModeColor256: p = kColor256.data(), n = kColor256.size(); break;
        case kModeGray256: p = kGray256.data(), n = kGray256.size(); break;
        default: break;
    }
    *bytes = n;
    return p;
}

}  // namespace palettes
