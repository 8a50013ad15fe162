// The sample disc: five synthetic 48-bit pictures, each chosen to show what
// the output modes do with one kind of content.
//   6  gradients: full and narrow ramps that band at 8 bits and below
//   7  fine detail: a zone plate and one-pixel gratings for down-scaling
//   8  saturated colours: a hue sweep and bars in the 16 system colours
//   9  a dark, low-contrast night scene that a contrast curve brightens
//  10  a mixed scene: evening sky, sun, hills, lake and grass
// Everything is computed with integer and basic floating-point arithmetic
// only, so every platform produces the same samples.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

// The pictures' numbers, folder and file names.
#include "engine/disc_pictures.h"

namespace rq6 {

inline constexpr std::uint32_t kSampleWidth = 3200;
inline constexpr std::uint32_t kSampleHeight = 2400;

// Fills the 3 x width samples (blue, green, red) of row y (0 = bottom row) of
// picture `number` (6..10) drawn at width x height. Other numbers give black.
void SampleRow(int number, std::uint32_t width, std::uint32_t height, std::uint32_t y,
               std::uint16_t* bgr);

// The picture's comment: a short Japanese title in code page 932 bytes.
std::string SampleComment(int number);

// Where writing the sample disc failed: the folder or file, whether it could
// not be created or not be written (kStatusOutputNotCreated,
// kStatusWriteFailed), and the system's error when it is known.
struct SampleDiscFailure {
    std::string path;
    std::uint32_t status = 0;
    std::error_code error;
};

// Writes dir/Extends/Sg006.rq6 ... Sg010.rq6 at 3200 x 2400, creating the
// directories. On failure returns false and says where in *failure (if given).
bool WriteSampleDisc(const std::string& dir, SampleDiscFailure* failure);

}  // namespace rq6
