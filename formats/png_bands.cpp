#include "formats/png_bands.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#include "engine/conversion_status.h"
#include "formats/deflate_join.h"

namespace png_write {
namespace detail {

namespace {

// Compression levels. Photographs leave large differences after filtering
// and few long repeats: libdeflate's fastest level deflates them as small as
// its slower ones (the benchmark photograph: 29.6 MB at level 1, 30.0 MB at
// level 6, in 60 % of the time). Smooth and drawn pictures leave small
// differences, and there level 6 finds repeats level 1 misses (a sample
// picture: 1.17 MB at level 1, 0.77 MB at level 6) at little cost. A band
// whose filtered bytes average a magnitude below kSmoothBelow (as signed
// bytes) is taken as smooth: the photograph's bands measure 16 to 32, the
// smooth pictures' 0 to 9.
constexpr int kFastLevel = 1;
constexpr int kThoroughLevel = 6;
constexpr std::uint64_t kSmoothBelow = 12;
// Every compressed band ends in this many zero bytes beyond what libdeflate
// may write, for the walker that joins the bands.
constexpr std::size_t kSlack = deflate_join::kSlack;

// The bytes of band `index` of `count` in the zlib stream: the stream's
// header before the first, the stream's check (4 bytes, put there by the
// writer) after the last. The band's buffer has room for both.
void BandSpan(Band& band, std::size_t index, std::size_t count, std::uint8_t** begin,
              std::uint8_t** end) {
    *begin = band.compressed.get() + 2;
    *end = *begin + band.size;
    if (index == 0) {
        // Deflate with a 32 KB window, no preset dictionary; the check
        // bits make the two bytes a multiple of 31.
        *--*begin = 0x01;
        *--*begin = 0x78;
    }
    if (index + 1 == count) *end += 4;
}

}  // namespace

Buffer Allocate(std::size_t bytes) {
    auto* p = static_cast<std::uint8_t*>(std::malloc(bytes));
    if (!p) throw std::bad_alloc();
    return Buffer(p);
}

// ---------------------------------------------------------------- encoding --

BandEncoder::BandEncoder(const Layout& layout, const RowSource* rows)
    : layout_(layout), rows_(rows), rowBytes_(RowBytes(layout)) {
    filter_.n = rowBytes_;
    filter_.bpp =
        std::max<std::size_t>(1, static_cast<std::size_t>(layout.bitDepth) * Channels(layout) / 8);
}

std::uint32_t BandEncoder::Encode(Band& band, bool last, Buffer buffer) {
    std::vector<std::uint8_t> above(rowBytes_, 0);
    std::vector<std::uint8_t> current(rowBytes_);
    const RowSource& rows = *rows_;
    if (band.firstRow > 0 && !rows(band.firstRow - 1, above.data())) return kStatusReadFailed;
    filtered_.resize((rowBytes_ + 1) * band.rows);
    std::uint64_t magnitude = 0;
    for (std::uint32_t i = 0; i < band.rows; ++i) {
        if (!rows(band.firstRow + i, current.data())) return kStatusReadFailed;
        magnitude += filter_.Row(current.data(), above.data(), Adaptive(),
                                 filtered_.data() + (rowBytes_ + 1) * i);
        above.swap(current);
    }
    return Compress(band, last, std::move(buffer), magnitude);
}

std::uint32_t BandEncoder::EncodeRows(Band& band, bool last, Buffer buffer, const std::uint8_t* raw) {
    filtered_.resize((rowBytes_ + 1) * band.rows);
    std::uint64_t magnitude = 0;
    for (std::uint32_t i = 0; i < band.rows; ++i) {
        magnitude += filter_.Row(raw + rowBytes_ * (i + 1), raw + rowBytes_ * i, Adaptive(),
                                 filtered_.data() + (rowBytes_ + 1) * i);
    }
    return Compress(band, last, std::move(buffer), magnitude);
}

std::size_t BandEncoder::BufferBytes(std::size_t filteredBytes) {
    return 2 + libdeflate_deflate_compress_bound(nullptr, filteredBytes) + 5 + kSlack;
}

std::uint32_t BandEncoder::Compress(Band& band, bool last, Buffer buffer, std::uint64_t magnitude) {
    band.filteredBytes = filtered_.size();
    band.adler = libdeflate_adler32(1, filtered_.data(), filtered_.size());
    band.compressed = std::move(buffer);
    std::uint8_t* out = band.compressed.get() + 2;
    const std::size_t bound = libdeflate_deflate_compress_bound(nullptr, filtered_.size());
    // Unfiltered (indexed) rows count as smooth: such pictures are drawn
    // or dithered, with many repeats.
    const bool smooth = magnitude < kSmoothBelow * filtered_.size();
    std::unique_ptr<Compressor>& compressor = smooth ? thorough_ : fast_;
    if (!compressor) compressor = std::make_unique<Compressor>(smooth ? kThoroughLevel : kFastLevel);
    if (!compressor->c) return kStatusOutOfMemory;
    band.size = libdeflate_deflate_compress(compressor->c, filtered_.data(), filtered_.size(),
                                            out, bound);
    if (band.size == 0) return kStatusUnexpected;
    std::memset(out + band.size, 0, 5 + kSlack);
    if (!last && !deflate_join::MakeContinuable(out, &band.size)) return kStatusUnexpected;
    return kStatusOk;
}

// ---------------------------------------------------------------- planning --

BandPlan PlanBands(const Layout& layout, const Options& options) {
    BandPlan plan;
    const std::size_t rowBytes = RowBytes(layout);
    const std::size_t perBand = std::max<std::size_t>(1, options.bandBytes / (rowBytes + 1));
    plan.rowsPerBand = static_cast<std::uint32_t>(std::min<std::size_t>(perBand, layout.height));
    unsigned threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
    // Beyond a few threads the bands held in memory grow faster than the
    // speed: writing the file becomes the limit.
    threads = std::clamp(threads, 1u, 8u);
    plan.bandCount = (layout.height + plan.rowsPerBand - 1) / plan.rowsPerBand;
    if (plan.bandCount < threads) threads = static_cast<unsigned>(plan.bandCount);
    plan.threads = threads;
    return plan;
}

// ----------------------------------------------------------------- writing --

void ComputeChunkCrcs(Band& band, std::size_t index, std::size_t count, std::size_t chunkBytes) {
    std::uint8_t* begin = nullptr;
    std::uint8_t* end = nullptr;
    BandSpan(band, index, count, &begin, &end);
    if (index + 1 == count) end -= 4;
    band.chunkCrcs.clear();
    for (std::uint8_t* p = begin; p < end; p += chunkBytes) {
        band.chunkCrcs.push_back(ChunkFile::ChunkCrc(
            "IDAT", p, std::min<std::size_t>(chunkBytes, static_cast<std::size_t>(end - p))));
    }
}

bool WriteBand(ChunkFile& out, Band& band, std::size_t index, std::size_t count,
               std::size_t chunkBytes, std::uint32_t* adler) {
    *adler = deflate_join::CombineAdler32(*adler, band.adler, band.filteredBytes);
    std::uint8_t* begin = nullptr;
    std::uint8_t* end = nullptr;
    BandSpan(band, index, count, &begin, &end);
    const bool last = index + 1 == count;
    std::uint8_t* const check = last ? end - 4 : end;  // where the stream's check starts
    if (last) PutBe32(check, *adler);
    std::size_t chunk = 0;
    for (std::uint8_t* p = begin; p < end; p += chunkBytes, ++chunk) {
        const std::size_t n = std::min<std::size_t>(chunkBytes, static_cast<std::size_t>(end - p));
        std::uint32_t crc = 0;
        if (chunk < band.chunkCrcs.size() && p + n <= check) {
            crc = band.chunkCrcs[chunk];
        } else if (chunk < band.chunkCrcs.size() && p + n == end && p < check) {
            // The chunk the stream's check ends, computed up to the check.
            crc = libdeflate_crc32(band.chunkCrcs[chunk], check, 4);
        } else {
            crc = ChunkFile::ChunkCrc("IDAT", p, n);
        }
        if (!out.Chunk("IDAT", p, n, crc)) return false;
    }
    return true;
}

}  // namespace detail
}  // namespace png_write
