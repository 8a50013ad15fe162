#include "engine/palettes.h"

#include "engine/color_mode.h"

namespace palettes {

namespace {

using Entry = std::array<std::uint8_t, 3>;  // red, green, blue

// Entries 1..7 are the dark (128) versions of the hues red = bit 0, green =
// bit 1, blue = bit 2, entries 9..15 the full (255) ones; 7 is light grey and 8
// dark grey. Mode 4's hue mask indexes this order directly.
constexpr Entry kSystemColours[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

template <std::size_t N>
constexpr void Store(std::array<std::uint8_t, N>& p, int i, int r, int g, int b) {
    p[4 * i] = static_cast<std::uint8_t>(b);
    p[4 * i + 1] = static_cast<std::uint8_t>(g);
    p[4 * i + 2] = static_cast<std::uint8_t>(r);
    p[4 * i + 3] = 0;
}

template <std::size_t N>
constexpr void StoreSystemColours(std::array<std::uint8_t, N>& p) {
    for (int i = 0; i < 16; ++i) {
        Store(p, i, kSystemColours[i][0], kSystemColours[i][1], kSystemColours[i][2]);
    }
}

constexpr int Rounded(int numerator, int denominator) {
    return (2 * numerator + denominator) / (2 * denominator);
}

constexpr std::array<std::uint8_t, 16 * 4> MakeSystem16() {
    std::array<std::uint8_t, 16 * 4> p{};
    StoreSystemColours(p);
    return p;
}

constexpr std::array<std::uint8_t, 16 * 4> MakeGray16() {
    std::array<std::uint8_t, 16 * 4> p{};
    // The top grey is white, so the last step is 31 rather than 16.
    for (int i = 0; i < 16; ++i) {
        const int v = i < 15 ? 16 * i : 255;
        Store(p, i, v, v, v);
    }
    return p;
}

constexpr std::array<std::uint8_t, 256 * 4> MakeColor256() {
    std::array<std::uint8_t, 256 * 4> p{};
    StoreSystemColours(p);
    // A cube of 3 blue x 10 green x 8 red levels after the sixteen system
    // colours, which the colour mode itself never uses.
    constexpr int kBlue[3] = {0, 128, 255};
    for (int b = 0; b < 3; ++b) {
        for (int g = 0; g < 10; ++g) {
            for (int r = 0; r < 8; ++r) {
                Store(p, 16 + 80 * b + 8 * g + r, Rounded(255 * r, 7), Rounded(255 * g, 9),
                      kBlue[b]);
            }
        }
    }
    return p;
}

constexpr std::array<std::uint8_t, 256 * 4> MakeGray256() {
    std::array<std::uint8_t, 256 * 4> p{};
    for (int i = 0; i < 256; ++i) Store(p, i, i, i, i);
    return p;
}

}  // namespace

const std::array<std::uint8_t, 2 * 4> kMono = {0, 0, 0, 0, 255, 255, 255, 0};
const std::array<std::uint8_t, 16 * 4> kSystem16 = MakeSystem16();
const std::array<std::uint8_t, 16 * 4> kGray16 = MakeGray16();
const std::array<std::uint8_t, 256 * 4> kColor256 = MakeColor256();
const std::array<std::uint8_t, 256 * 4> kGray256 = MakeGray256();

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
