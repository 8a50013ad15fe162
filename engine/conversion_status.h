#pragma once

#include <cstdint>

// Outcome of a conversion job; non-zero values are final.
enum ConversionStatus : std::uint32_t {
    kStatusOk = 0,
    kStatusOutOfMemory = 1,
    kStatusInputNotOpened = 2,
    kStatusOutputNotCreated = 3,
    kStatusReadFailed = 4,
    kStatusWriteFailed = 5,
    kStatusFormatError = 6,
    kStatusUnexpected = 7,
};

inline constexpr int kStatusCount = 8;

// The user-facing text of a status (UTF-8). Out-of-range values give the
// text of kStatusUnexpected.
const char* StatusMessage(std::uint32_t status);
