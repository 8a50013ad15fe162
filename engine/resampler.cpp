// Area-average scaling in 1/256ths of an output pixel.
//
// Along each axis every input pixel carries q or q + 1 units (q = 256 m / n),
// the r = 256 m mod n extra units spread evenly by a running remainder that
// starts at n / 2. The weight list holds, for each input pixel in order, the
// units it gives to each output pixel it touches: first the entries that
// complete output pixels (each bringing that pixel's total to 256), then one
// trailing entry for the next output pixel (possibly 0). So every output pixel
// owns a run of entries summing to exactly 256, and a sum of weight products
// times 16-bit samples is 65536 times the area-weighted mean, which fits in
// 32 bits.
#include <cstring>

#include "engine/resampler.h"
#include "engine/conversion_status.h"

void BuildWeightList(std::uint32_t n, std::uint32_t m, std::uint16_t* list) {
    const std::uint32_t q = (m * 256) / n;
    const std::uint32_t r = m * 256 - n * q;
    std::uint32_t e = n / 2;
    std::uint32_t rest = 256;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t w = q;
        e += r;
        if (e >= n) {
            e -= n;
            ++w;
        }
        while (w >= rest) {
            *list++ = static_cast<std::uint16_t>(rest);
            w -= rest;
            rest = 256;
        }
        *list++ = static_cast<std::uint16_t>(w);
        rest -= w;
    }
}

void Resampler::BuildWeights() {
    BuildWeightList(srcWidth, width, hWeights);
    BuildWeightList(srcHeight, height, vWeights);
    vCursor = vWeights;
}

namespace {

// columnSums[i] += v x row[i]: vertical weighting in the input's own
// columns, a loop the compiler vectorises.
void AddWeightedRow(std::uint32_t* sums, const std::uint16_t* row, std::uint32_t v,
                    std::uint32_t samples) {
    for (std::uint32_t i = 0; i < samples; ++i) sums[i] += v * row[i];
}

// Applies the horizontal weights to the column sums, giving for each output
// pixel the sum of h x v x sample over its footprint. Because h x (the sum of
// v x sample) is at most 256 x 256 x 65535 and the products of one pixel add
// up to at most 65536 x 65535, the 32-bit results are the same as summing
// every h x v x sample product one by one.
void HorizontalPass(const std::uint32_t* src, const std::uint16_t* h, std::uint32_t width,
                    std::uint32_t* acc) {
    for (std::uint32_t x = 0; x < width; ++x, acc += 3) {
        std::uint32_t b = 0, g = 0, r = 0;
        std::uint32_t restH = 256;
        for (;;) {
            const std::uint32_t w = *h++;
            b += w * src[0];
            g += w * src[1];
            r += w * src[2];
            restH -= w;
            if (restH == 0) break;
            src += 3;
        }
        // The entry that closed this output pixel belongs to the same input
        // pixel as the next entry, so the next output pixel starts on it.
        acc[0] = b;
        acc[1] = g;
        acc[2] = r;
    }
}

}  // namespace

std::uint32_t Resampler::ResampleRow(const std::uint16_t* row, RowSource& rows) {
    // Columns outside the converted part get no weight: they are not summed.
    const std::uint32_t samples = 3 * srcWidth;
    const std::uint16_t* src = row + 3 * srcLeft;
    std::memset(columnSums, 0, sizeof(std::uint32_t) * samples);
    // The first entry of an output row belongs to the input row in hand; each
    // further one to the next input row, decoded just before it is used.
    // Weights of 0 (a trailing entry that starts nothing, common when sizes
    // are equal or shrink a lot) add nothing and are skipped.
    std::uint32_t v = *vCursor++;
    if (v != 0) AddWeightedRow(columnSums, src, v, samples);
    std::uint32_t restV = 256 - v;
    while (restV != 0) {
        if (const std::uint32_t s = rows.NextRow()) return s;
        v = *vCursor++;
        if (v == 0) continue;
        AddWeightedRow(columnSums, src, v, samples);
        restV -= v;
    }
    HorizontalPass(columnSums, hWeights, width, acc);
    return kStatusOk;
}
