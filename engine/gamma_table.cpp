#include "engine/gamma_table.h"

#include <cmath>
#include <new>

template <typename Element, std::int32_t N>
GammaTable<Element, N>::GammaTable() {
    try {
        table = new Element[N];
    } catch (...) {
        table = nullptr;
    }
}

template <typename Element, std::int32_t N>
GammaTable<Element, N>::~GammaTable() {
    delete[] table;
}

template <typename Element, std::int32_t N>
const Element* GammaTable<Element, N>::Build(double exponent, Element low, Element high,
                                             std::int32_t start, std::int32_t length) {
    if (!table) return nullptr;
    // Written as "not greater" so that not-a-number also lands on the minimum.
    if (!(exponent > kMinExponent)) {
        exponent = kMinExponent;
    } else if (!(exponent < kMaxExponent)) {
        exponent = kMaxExponent;
    }
    if (length < 1) length = 1;
    if (length > N) length = N;
    if (start < 0) start = 0;
    if (start >= length) start = length - 1;

    if (exponent == lastExponent && low == lastLow && high == lastHigh && start == lastStart &&
        length == lastLength) {
        return table;
    }
    lastExponent = exponent;
    lastLow = low;
    lastHigh = high;
    lastStart = start;
    lastLength = length;

    for (std::int32_t i = 0; i <= start; ++i) table[i] = low;
    const std::int32_t d = static_cast<std::int32_t>(high) - static_cast<std::int32_t>(low);
    const double step = 1.0 / static_cast<double>(length - start);
    double sum = 0.0;
    for (std::int32_t i = start + 1; i < length; ++i) {
        // A running sum, as the curve has always been computed; for the
        // callers' power-of-two lengths it is exact anyway.
        sum += step;
        const auto scaled = static_cast<std::int32_t>(std::pow(sum, exponent) * d);
        table[i] = static_cast<Element>(low + scaled);
    }
    for (std::int32_t i = length; i < N; ++i) table[i] = high;
    return table;
}

template class GammaTable<std::uint8_t, 256>;
template class GammaTable<std::uint16_t, 65536>;

ContrastTable::ContrastTable() {
    for (int i = 0; i < kPositions; ++i) {
        // Positions run from 2.5^-1 to 2.5^1, kMiddle steps either side;
        // kMiddle is a power of two, so the division is exact.
        exponent[i] = std::pow(2.5, (i - kMiddle) / static_cast<double>(kMiddle));
    }
}
