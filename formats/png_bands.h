// Bands of rows, each filtered and deflated on its own into a piece of the
// one zlib stream, and written out as image data chunks. Internal to the PNG
// encoder: the writers decide which threads encode which bands.
#pragma once

#include <libdeflate.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "formats/png_chunks.h"
#include "formats/png_filter.h"
#include "formats/png_layout.h"

namespace png_write {
namespace detail {

// Bands compressed ahead of the one being written, per thread: enough to keep
// every thread busy while a band is written out, few enough to bound memory.
constexpr std::size_t kBandsAheadPerThread = 2;

// Compressed bands are written into buffers that are used again for later
// bands: fresh memory for every band would be zeroed and faulted in each time,
// which costs a fifth of the writing.
// (Allocated with malloc, so that a band's compressed bytes, once known, can
// keep their memory and give back the rest without being copied.)
struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], Free>;

// Throws std::bad_alloc when there is no memory.
Buffer Allocate(std::size_t bytes);

struct Band {
    std::uint32_t firstRow = 0;
    std::uint32_t rows = 0;
    Buffer compressed;   // two bytes room for the zlib header first
    std::size_t size = 0;                  // compressed bytes after that room
    std::uint32_t adler = 1;
    std::uint64_t filteredBytes = 0;
    bool done = false;
    // The checks of its image data chunks, when computed beforehand; for the
    // last band, that of the chunk the stream's check ends leaves it out.
    std::vector<std::uint32_t> chunkCrcs;
};

struct Compressor {
    explicit Compressor(int level) : c(libdeflate_alloc_compressor(level)) {}
    ~Compressor() { libdeflate_free_compressor(c); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    libdeflate_compressor* c;
};

class BandEncoder {
public:
    // `rows` is where Encode takes the rows from; EncodeRows needs none.
    BandEncoder(const Layout& layout, const RowSource* rows);

    // Filters and deflates one band into `buffer` (BufferBytes of the
    // largest band); the zlib stream's framing is the writer's. Returns a status.
    std::uint32_t Encode(Band& band, bool last, Buffer buffer);

    // The same with the band's rows at hand: `raw` holds the row above the
    // band (zeros for the top band), then its rows, top first.
    std::uint32_t EncodeRows(Band& band, bool last, Buffer buffer, const std::uint8_t* raw);

    // Room for the zlib header before the compressed data, and after it for
    // the stored block that joins the next band or the checksum, and the
    // walker's slack.
    static std::size_t BufferBytes(std::size_t filteredBytes);

private:
    bool Adaptive() const { return layout_.colorType == kColorTypeRgb && layout_.bitDepth >= 8; }

    // Deflates the filtered band; its sum of filtered magnitudes chooses the level.
    std::uint32_t Compress(Band& band, bool last, Buffer buffer, std::uint64_t magnitude);

    const Layout& layout_;
    const RowSource* rows_;
    std::size_t rowBytes_;
    Filterer filter_;
    std::unique_ptr<Compressor> fast_;
    std::unique_ptr<Compressor> thorough_;
    std::vector<std::uint8_t> filtered_;
};

// How a picture is cut into bands and how many threads compress them.
struct BandPlan {
    std::uint32_t rowsPerBand = 1;
    std::size_t bandCount = 1;
    unsigned threads = 1;
};

BandPlan PlanBands(const Layout& layout, const Options& options);

// The checks of the band's image data chunks, on the band's own thread. In
// the last band, the stream's check is not known yet: the chunk it ends gets
// the check of what comes before it, to be continued over it.
void ComputeChunkCrcs(Band& band, std::size_t index, std::size_t count, std::size_t chunkBytes);

// Writes band `index` of `count` as image data chunks of `chunkBytes`;
// *adler runs over the bands in order.
bool WriteBand(ChunkFile& out, Band& band, std::size_t index, std::size_t count,
               std::size_t chunkBytes, std::uint32_t* adler);

}  // namespace detail
}  // namespace png_write
