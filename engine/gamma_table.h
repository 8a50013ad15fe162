// Power-law tone curves evaluated once into lookup tables, and the exponents
// of the contrast trackbar.
#pragma once

#include <cstdint>

// The exponents a curve is built with are kept within these: beyond them the
// curve is numerically a step function anyway.
inline constexpr double kMinExponent = 0.001;
inline constexpr double kMaxExponent = 1000.0;

// One implementation for both table widths; the two class names below are
// the ones the rest of the program uses.
template <typename Element, std::int32_t N>
class GammaTable {
public:
    static constexpr std::int32_t kSize = N;

    GammaTable();
    ~GammaTable();
    GammaTable(const GammaTable&) = delete;
    GammaTable& operator=(const GammaTable&) = delete;

    // Fills the table with low + trunc((k / (length - start))^exponent * (high - low))
    // between start and length and returns it; null when the table could not
    // be allocated. Parameters are clamped, never rejected, and a build with
    // the same clamped parameters as the last one leaves the table alone.
    const Element* Build(double exponent, Element low, Element high, std::int32_t start,
                         std::int32_t length);

    Element* table = nullptr;
    double lastExponent = -1.0;
    Element lastLow = 0;
    Element lastHigh = static_cast<Element>(N - 1);
    std::int32_t lastStart = 0;
    std::int32_t lastLength = N;
};

using CGammaCB = GammaTable<std::uint8_t, 256>;
using CGammaCW = GammaTable<std::uint16_t, 65536>;

extern template class GammaTable<std::uint8_t, 256>;
extern template class GammaTable<std::uint16_t, 65536>;

// Exponents of the 257 contrast trackbar positions: 2.5^((i - 128) / 128),
// from 0.4 (bright) through 1.0 to 2.5 (dark).
struct ContrastTable {
    static constexpr int kPositions = 257;
    static constexpr int kMiddle = 128;
    ContrastTable();
    double exponent[kPositions];
};
