// Rows as PNG stores them: their size, and the filter that turns each into
// differences that deflate well. Internal to the PNG encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/png_layout.h"

namespace png_write {
namespace detail {

// Samples a pixel has in the layout's colour type.
inline std::size_t Channels(const Layout& layout) {
    return layout.colorType == kColorTypeRgb ? 3 : 1;
}

// Rows are filtered with the predictor whose output has the smallest sum of
// magnitudes (bytes read as signed), the usual estimate of what deflates
// best; indexed and sub-byte rows are left unfiltered, which suits them
// better than any predictor.
struct Filterer {
    std::size_t n = 0;   // bytes of a row
    std::size_t bpp = 1;  // bytes per complete pixel, at least 1
    std::vector<std::uint8_t> trial;  // a candidate row while the others are tried

    template <typename Predict>
    static std::uint64_t Apply(const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n,
                               std::size_t bpp, std::uint8_t* out, Predict predict);

    // Writes the filter type and the filtered bytes (n + 1 bytes) to out,
    // and returns the sum of their magnitudes (0 when not adaptive). prev is
    // the unfiltered row above, all zero for the top row.
    std::uint64_t Row(const std::uint8_t* cur, const std::uint8_t* prev, bool adaptive,
                      std::uint8_t* out);
};

}  // namespace detail
}  // namespace png_write
