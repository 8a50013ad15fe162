#include "formats/png_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/conversion_status.h"
#include "formats/deflate_join.h"
#include "formats/translation.h"
#include "platform/file_io.h"

namespace png_write {

namespace {

// Samples a pixel has in the layout's colour type.
std::size_t Channels(const Layout& layout) { return layout.colorType == kColorTypeRgb ? 3 : 1; }

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
// Bands compressed ahead of the one being written, per thread: enough to keep
// every thread busy while a band is written out, few enough to bound memory.
constexpr std::size_t kBandsAheadPerThread = 2;
// Every compressed band ends in this many zero bytes beyond what libdeflate
// may write, for the walker that joins the bands.
constexpr std::size_t kSlack = deflate_join::kSlack;

// ------------------------------------------------------------------ chunks --

void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

class ChunkFile {
public:
    explicit ChunkFile(platform::FileHandle file) : file_(file) {}

    // A short write is a failure: the platform layer reports a full disk that way.
    bool Raw(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        while (ok_ && size > 0) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30));
            std::uint32_t written = 0;
            const bool called = platform::Write(file_, p, n, &written);
            ok_ = called && written == n;
            if (!ok_) systemError_ = called ? 0 : platform::LastError();
            p += n;
            size -= n;
        }
        return ok_;
    }

    bool Chunk(const char* type, const std::uint8_t* data, std::size_t size) {
        return Chunk(type, data, size, ChunkCrc(type, data, size));
    }
    // The same with its check computed beforehand.
    bool Chunk(const char* type, const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
        std::uint8_t head[8];
        PutBe32(head, static_cast<std::uint32_t>(size));
        std::memcpy(head + 4, type, 4);
        std::uint8_t tail[4];
        PutBe32(tail, crc);
        return Raw(head, 8) && Raw(data, size) && Raw(tail, 4);
    }

    // A chunk's check: over its type and its data.
    static std::uint32_t ChunkCrc(const char* type, const std::uint8_t* data, std::size_t size) {
        const std::uint32_t crc = libdeflate_crc32(0, type, 4);
        // (libdeflate takes a null buffer as a request for the initial value.)
        return size != 0 ? libdeflate_crc32(crc, data, size) : crc;
    }

    // The system's reason for the write that failed, 0 if none.
    int SystemError() const { return systemError_; }

private:
    platform::FileHandle file_;
    bool ok_ = true;
    int systemError_ = 0;
};

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool WriteHeaderChunks(ChunkFile& out, const Layout& layout) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint8_t ihdr[13];
    PutBe32(ihdr, layout.width);
    PutBe32(ihdr + 4, layout.height);
    ihdr[8] = static_cast<std::uint8_t>(layout.bitDepth);
    ihdr[9] = static_cast<std::uint8_t>(layout.colorType);
    ihdr[10] = ihdr[11] = ihdr[12] = 0;  // deflate, adaptive filtering, not interlaced
    if (!out.Raw(kSignature, 8) || !out.Chunk("IHDR", ihdr, sizeof ihdr)) return false;
    if (layout.colorType == kColorTypePalette) {
        std::vector<std::uint8_t> plte;
        for (const auto& c : layout.palette) plte.insert(plte.end(), c.begin(), c.end());
        if (!out.Chunk("PLTE", plte.data(), plte.size())) return false;
    }
    if (layout.comment.empty()) return true;
    // Plain text chunks are Latin-1; anything beyond ASCII goes as UTF-8 in
    // an international one (uncompressed, no language tag or translation).
    std::string text = "Comment";
    text += '\0';
    const bool ascii = IsAscii(layout.comment);
    if (!ascii) text.append("\0\0\0\0", 4);
    text += layout.comment;
    return out.Chunk(ascii ? "tEXt" : "iTXt", reinterpret_cast<const std::uint8_t*>(text.data()),
                     text.size());
}

// ----------------------------------------------------------------- filters --

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
                               std::size_t bpp, std::uint8_t* out, Predict predict) {
        std::uint64_t sum = 0;
        const auto put = [&](std::size_t i, int a, int c) {
            const auto v = static_cast<std::uint8_t>(cur[i] - predict(a, prev[i], c));
            out[i] = v;
            sum += static_cast<std::uint64_t>(std::abs(static_cast<int>(static_cast<std::int8_t>(v))));
        };
        // The first pixel has nothing to its left; the loop over the rest has
        // no branch, so that the compiler can vectorise it.
        const std::size_t first = std::min(bpp, n);
        for (std::size_t i = 0; i < first; ++i) put(i, 0, 0);
        for (std::size_t i = first; i < n; ++i) put(i, cur[i - bpp], prev[i - bpp]);
        return sum;
    }

    // Writes the filter type and the filtered bytes (n + 1 bytes) to out,
    // and returns the sum of their magnitudes (0 when not adaptive). prev is
    // the unfiltered row above, all zero for the top row.
    std::uint64_t Row(const std::uint8_t* cur, const std::uint8_t* prev, bool adaptive, std::uint8_t* out) {
        if (!adaptive) {
            out[0] = 0;
            std::memcpy(out + 1, cur, n);
            return 0;
        }
        trial.resize(n);
        std::uint8_t* best = out + 1;
        std::uint8_t* other = trial.data();
        auto consider = [&](int type, std::uint64_t sum, std::uint64_t* bestSum) {
            if (sum < *bestSum) {
                *bestSum = sum;
                out[0] = static_cast<std::uint8_t>(type);
                std::swap(best, other);
            }
        };
        // The Paeth filter is not offered. It often has the smallest sum yet
        // deflates worse here (the sample pictures came out up to twice as
        // large with it, the photograph 1 % smaller), and undoing it is the
        // slowest part of reading a PNG: packing the photograph took 0.59 s
        // with it and 0.45 s without. Up first: on photographs it wins most
        // rows, and writes straight into the output.
        out[0] = 2;
        std::uint64_t bestSum = Apply(cur, prev, n, bpp, best, [](int, int b, int) { return b; });
        consider(1, Apply(cur, prev, n, bpp, other, [](int a, int, int) { return a; }), &bestSum);
        consider(3, Apply(cur, prev, n, bpp, other, [](int a, int b, int) { return (a + b) >> 1; }),
                 &bestSum);
        consider(0, Apply(cur, prev, n, bpp, other, [](int, int, int) { return 0; }), &bestSum);
        if (best != out + 1) std::memcpy(out + 1, best, n);
        return bestSum;
    }
};

// ------------------------------------------------------------------ bands ---

// Compressed bands are written into buffers that are used again for later
// bands: fresh memory for every band would be zeroed and faulted in each time,
// which costs a fifth of the writing.
// (Allocated with malloc, so that a band's compressed bytes, once known, can
// keep their memory and give back the rest without being copied.)
struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], Free>;

Buffer Allocate(std::size_t bytes) {
    auto* p = static_cast<std::uint8_t*>(std::malloc(bytes));
    if (!p) throw std::bad_alloc();
    return Buffer(p);
}

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
    BandEncoder(const Layout& layout, const RowSource* rows)
        : layout_(layout), rows_(rows), rowBytes_(RowBytes(layout)) {
        filter_.n = rowBytes_;
        filter_.bpp =
            std::max<std::size_t>(1, static_cast<std::size_t>(layout.bitDepth) * Channels(layout) / 8);
    }

    // Filters and deflates one band into `buffer` (BufferBytes of the
    // largest band); the zlib stream's framing is the writer's. Returns a status.
    std::uint32_t Encode(Band& band, bool last, Buffer buffer) {
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

    // The same with the band's rows at hand: `raw` holds the row above the
    // band (zeros for the top band), then its rows, top first.
    std::uint32_t EncodeRows(Band& band, bool last, Buffer buffer, const std::uint8_t* raw) {
        filtered_.resize((rowBytes_ + 1) * band.rows);
        std::uint64_t magnitude = 0;
        for (std::uint32_t i = 0; i < band.rows; ++i) {
            magnitude += filter_.Row(raw + rowBytes_ * (i + 1), raw + rowBytes_ * i, Adaptive(),
                                     filtered_.data() + (rowBytes_ + 1) * i);
        }
        return Compress(band, last, std::move(buffer), magnitude);
    }

    // Room for the zlib header before the compressed data, and after it for
    // the stored block that joins the next band or the checksum, and the
    // walker's slack.
    static std::size_t BufferBytes(std::size_t filteredBytes) {
        return 2 + libdeflate_deflate_compress_bound(nullptr, filteredBytes) + 5 + kSlack;
    }

private:
    bool Adaptive() const { return layout_.colorType == kColorTypeRgb && layout_.bitDepth >= 8; }

    // Deflates the filtered band; its sum of filtered magnitudes chooses the level.
    std::uint32_t Compress(Band& band, bool last, Buffer buffer, std::uint64_t magnitude) {
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

    const Layout& layout_;
    const RowSource* rows_;
    std::size_t rowBytes_;
    Filterer filter_;
    std::unique_ptr<Compressor> fast_;
    std::unique_ptr<Compressor> thorough_;
    std::vector<std::uint8_t> filtered_;
};

// Bands are claimed in order by the threads and written in order by the
// caller's thread as each is done.
class BandPipeline {
public:
    BandPipeline(const Layout& layout, const RowSource& rows, std::uint32_t rowsPerBand, unsigned threads)
        : layout_(layout), rows_(rows), threads_(threads) {
        for (std::uint32_t y = 0; y < layout.height; y += rowsPerBand) {
            Band b;
            b.firstRow = y;
            b.rows = std::min(rowsPerBand, layout.height - y);
            bands_.push_back(std::move(b));
        }
        ahead_ = kBandsAheadPerThread * threads;
        bufferBytes_ = BandEncoder::BufferBytes((RowBytes(layout) + 1) * rowsPerBand);
    }

    ~BandPipeline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (status_ == kStatusOk) status_ = kStatusUnexpected;  // stops the workers early
            stopping_ = true;
        }
        changed_.notify_all();
        for (auto& t : workers_) t.join();
    }

    // Calls write(band) for each band in order; stops at the first failure.
    template <typename Write>
    std::uint32_t Run(Write write) {
        if (threads_ > 1) {
            for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
        }
        for (std::size_t k = 0; k < bands_.size(); ++k) {
            if (threads_ <= 1) {
                Claim();
                Encode(k);
            }
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return bands_[k].done || status_ != kStatusOk; });
                if (status_ != kStatusOk) return status_;
            }
            const bool ok = write(bands_[k]);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                spare_.push_back(std::move(bands_[k].compressed));
                written_ = k + 1;
                if (!ok) status_ = kStatusWriteFailed;
            }
            changed_.notify_all();
            if (!ok) return kStatusWriteFailed;
        }
        return kStatusOk;
    }

    std::size_t Count() const { return bands_.size(); }

private:
    std::size_t Claim() { return next_++; }

    void Encode(std::size_t k) { EncodeWith(encoder_, k); }

    void EncodeWith(std::unique_ptr<BandEncoder>& encoder, std::size_t k) {
        std::uint32_t status = kStatusOk;
        try {
            if (!encoder) encoder = std::make_unique<BandEncoder>(layout_, &rows_);
            Buffer buffer;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!spare_.empty()) {
                    buffer = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            if (!buffer) buffer = Allocate(bufferBytes_);
            status = encoder->Encode(bands_[k], k + 1 == bands_.size(), std::move(buffer));
        } catch (const std::bad_alloc&) {
            status = kStatusOutOfMemory;
        } catch (const std::exception&) {
            status = kStatusUnexpected;
        }
        Finish(k, status);
    }

    void Finish(std::size_t k, std::uint32_t status) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bands_[k].done = true;
            if (status != kStatusOk && status_ == kStatusOk) status_ = status;
        }
        changed_.notify_all();
    }

    void Work() {
        std::unique_ptr<BandEncoder> encoder;
        for (;;) {
            std::size_t k = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || status_ != kStatusOk || next_ >= bands_.size() ||
                           next_ < written_ + ahead_;
                });
                if (stopping_ || status_ != kStatusOk || next_ >= bands_.size()) return;
                k = Claim();
            }
            EncodeWith(encoder, k);
        }
    }

    const Layout& layout_;
    const RowSource& rows_;
    unsigned threads_;
    std::vector<Band> bands_;
    std::size_t ahead_ = 2;
    std::size_t bufferBytes_ = 0;
    std::vector<Buffer> spare_;  // buffers of bands written
    std::unique_ptr<BandEncoder> encoder_;  // when the caller's thread does the work
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;     // the next band to claim
    std::size_t written_ = 0;  // bands written
    std::uint32_t status_ = kStatusOk;
    bool stopping_ = false;
};

// How a picture is cut into bands and how many threads compress them.
struct BandPlan {
    std::uint32_t rowsPerBand = 1;
    std::size_t bandCount = 1;
    unsigned threads = 1;
};

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

// The checks of the band's image data chunks, on the band's own thread. In
// the last band, the stream's check is not known yet: the chunk it ends gets
// the check of what comes before it, to be continued over it.
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

// Writes band `index` of `count` as image data chunks of `chunkBytes`;
// *adler runs over the bands in order.
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

std::uint32_t WriteImageData(ChunkFile& out, const Layout& layout, const RowSource& rows,
                             const Options& options) {
    const BandPlan plan = PlanBands(layout, options);
    BandPipeline pipeline(layout, rows, plan.rowsPerBand, plan.threads);
    std::uint32_t adler = 1;
    std::size_t index = 0;
    return pipeline.Run([&](Band& band) {
        return WriteBand(out, band, index++, pipeline.Count(),
                         std::max<std::size_t>(1, options.chunkBytes), &adler);
    });
}

// The reason for a failure of the file, for the caller's message.
full::Result Failed(std::uint32_t status, int systemError) {
    return full::Failure(status, systemError != 0 ? msg::SystemReason(systemError) : "");
}

}  // namespace

std::size_t RowBytes(const Layout& layout) {
    return (std::size_t{layout.width} * Channels(layout) * static_cast<std::size_t>(layout.bitDepth) +
            7) / 8;
}

full::Result Write(platform::FileHandle file, const Layout& layout, const RowSource& rows,
                   const Options& options) {
    if (layout.width == 0 || layout.height == 0) return full::Failure(kStatusUnexpected, "");
    ChunkFile out(file);
    std::uint32_t status = kStatusOk;
    try {
        if (!WriteHeaderChunks(out, layout)) {
            status = kStatusWriteFailed;
        } else {
            status = WriteImageData(out, layout, rows, options);
        }
        if (status == kStatusOk && !out.Chunk("IEND", nullptr, 0)) status = kStatusWriteFailed;
    } catch (const std::bad_alloc&) {
        status = kStatusOutOfMemory;
    } catch (const std::system_error&) {
        status = kStatusOutOfMemory;  // no thread could be started
    }
    if (status != kStatusOk) return Failed(status, status == kStatusWriteFailed ? out.SystemError() : 0);
    return {};
}

full::Result Write(const std::string& path, const Layout& layout, const RowSource& rows,
                   const Options& options) {
    if (layout.width == 0 || layout.height == 0) return full::Failure(kStatusUnexpected, "");
    const platform::FileHandle file = platform::CreateWrite(path.c_str());
    if (file == platform::kInvalidFile) return Failed(kStatusOutputNotCreated, platform::LastError());
    full::Result result = Write(file, layout, rows, options);
    platform::Close(file);
    return result;
}

// ------------------------------------------------------------ bottom up ---

// The rows arrive bottom first. Band k is complete once its rows and the row
// above it are in, which is the row that arrives right after its top row;
// it then goes to the threads, which filter and deflate it and keep only
// the compressed bytes. When the top row is in, the bands are written top
// first.
struct BottomUpWriter::State {
    State(platform::FileHandle file, const Layout& l, const Options& options)
        : out(file), layout(l), rowBytes(RowBytes(l)), plan(PlanBands(l, options)),
          chunkBytes(std::max<std::size_t>(1, options.chunkBytes)) {
        for (std::uint32_t y = 0; y < layout.height; y += plan.rowsPerBand) {
            Band b;
            b.firstRow = y;
            b.rows = std::min(plan.rowsPerBand, layout.height - y);
            bands.push_back(std::move(b));
        }
        raw.resize(bands.size());
        nextRow = layout.height;
        rawLimit = kBandsAheadPerThread * plan.threads + 1;
        bufferBytes = BandEncoder::BufferBytes((rowBytes + 1) * plan.rowsPerBand);
    }

    ~State() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (auto& t : workers) t.join();
    }

    std::uint32_t Status() {
        std::lock_guard<std::mutex> lock(mutex);
        return status;
    }

    // A buffer for the raw rows of a band (and the row above it), once fewer
    // than rawLimit are in use: the threads set the pace.
    Buffer TakeRawBuffer() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return rawInUse < rawLimit || status != kStatusOk; });
        ++rawInUse;
        if (!spareRaw.empty()) {
            Buffer b = std::move(spareRaw.back());
            spareRaw.pop_back();
            return b;
        }
        lock.unlock();
        return Allocate(rowBytes * (std::size_t{plan.rowsPerBand} + 1));
    }

    std::uint8_t* RawRow(std::size_t k, std::uint32_t y) {
        return raw[k].get() + rowBytes * (y + 1 - bands[k].firstRow);
    }

    void Submit(std::size_t k) {
        if (plan.threads <= 1) {
            Encode(encoder, k);
            return;
        }
        if (workers.empty()) {
            for (unsigned i = 0; i < plan.threads; ++i) workers.emplace_back([this] { Work(); });
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(k);
        }
        changed.notify_all();
    }

    void Work() {
        std::unique_ptr<BandEncoder> own;
        for (;;) {
            std::size_t k = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stopping || status != kStatusOk || !queue.empty(); });
                if (stopping || status != kStatusOk) return;
                k = queue.front();
                queue.erase(queue.begin());
            }
            Encode(own, k);
        }
    }

    // Compresses band k, keeping only the memory its compressed bytes take,
    // and gives back the raw rows for later bands.
    void Encode(std::unique_ptr<BandEncoder>& with, std::size_t k) {
        std::uint32_t result = kStatusOk;
        Band& band = bands[k];
        try {
            if (!with) with = std::make_unique<BandEncoder>(layout, nullptr);
            result = with->EncodeRows(band, k + 1 == bands.size(), Allocate(bufferBytes), raw[k].get());
            // The checks too: the bands are written one after another at
            // the end, and the less is left to do then, the sooner it ends.
            if (result == kStatusOk) ComputeChunkCrcs(band, k, bands.size(), chunkBytes);
            if (result == kStatusOk) {
                // Room for the zlib header before and the check after; the
                // allocator keeps a shrunk block where it is.
                if (void* kept = std::realloc(band.compressed.get(), 2 + band.size + 4)) {
                    band.compressed.release();
                    band.compressed.reset(static_cast<std::uint8_t*>(kept));
                }
            }
        } catch (const std::bad_alloc&) {
            result = kStatusOutOfMemory;
        } catch (const std::exception&) {
            result = kStatusUnexpected;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            spareRaw.push_back(std::move(raw[k]));
            --rawInUse;
            band.done = true;
            ++bandsDone;
            if (result != kStatusOk && status == kStatusOk) status = result;
        }
        changed.notify_all();
    }

    std::uint32_t Fail(std::uint32_t code) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (status == kStatusOk) status = code;
            code = status;
        }
        changed.notify_all();
        return code;
    }

    ChunkFile out;
    const Layout layout;
    const std::size_t rowBytes;
    const BandPlan plan;
    const std::size_t chunkBytes;
    std::vector<Band> bands;
    std::vector<Buffer> raw;  // per band, while its rows come in
    std::uint32_t nextRow = 0;  // the row after the next one to come (rows count down)
    std::size_t rawLimit = 1;
    std::size_t bufferBytes = 0;
    std::unique_ptr<BandEncoder> encoder;  // when the caller's thread does the work

    std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    std::vector<std::size_t> queue;  // bands complete, not yet claimed
    std::vector<Buffer> spareRaw;    // raw row buffers to use again
    std::size_t rawInUse = 0;
    std::size_t bandsDone = 0;
    std::uint32_t status = kStatusOk;
    bool stopping = false;
    std::vector<std::thread> workers;
};

BottomUpWriter::BottomUpWriter(platform::FileHandle file, const Layout& layout,
                               const Options& options)
    : state_(layout.width == 0 || layout.height == 0
                 ? nullptr
                 : std::make_unique<State>(file, layout, options)) {}

BottomUpWriter::~BottomUpWriter() = default;

std::uint32_t BottomUpWriter::Start() {
    if (!state_) return kStatusUnexpected;
    if (WriteHeaderChunks(state_->out, state_->layout)) return kStatusOk;
    systemError = state_->out.SystemError();
    return state_->Fail(kStatusWriteFailed);
}

std::uint8_t* BottomUpWriter::NextRow() {
    if (!state_ || state_->nextRow == 0) return nullptr;
    State& s = *state_;
    if (s.Status() != kStatusOk) return nullptr;
    const std::uint32_t y = s.nextRow - 1;
    const std::size_t k = y / s.plan.rowsPerBand;
    try {
        if (!s.raw[k]) s.raw[k] = s.TakeRawBuffer();
    } catch (const std::bad_alloc&) {
        s.Fail(kStatusOutOfMemory);
        return nullptr;
    }
    return s.Status() == kStatusOk ? s.RawRow(k, y) : nullptr;
}

std::uint32_t BottomUpWriter::AddRow() {
    if (!state_ || state_->nextRow == 0) return kStatusUnexpected;
    State& s = *state_;
    if (const std::uint32_t status = s.Status()) return status;
    const std::uint32_t y = s.nextRow - 1;
    const std::size_t k = y / s.plan.rowsPerBand;
    if (!s.raw[k]) return kStatusUnexpected;  // NextRow first
    --s.nextRow;
    try {
        if (y == s.bands[k].firstRow + s.bands[k].rows - 1 && k + 1 < s.bands.size()) {
            // The row above the band below, which is now complete.
            std::memcpy(s.RawRow(k + 1, y), s.RawRow(k, y), s.rowBytes);
            s.Submit(k + 1);
        }
        if (y == 0) {
            std::memset(s.raw[0].get(), 0, s.rowBytes);  // nothing above the top row
            s.Submit(0);
        }
    } catch (const std::bad_alloc&) {
        return s.Fail(kStatusOutOfMemory);
    } catch (const std::system_error&) {
        return s.Fail(kStatusOutOfMemory);  // no thread could be started
    }
    return s.Status();
}

std::uint32_t BottomUpWriter::AddRow(const std::uint8_t* row) {
    std::uint8_t* place = NextRow();
    if (!place) return state_ && state_->nextRow != 0 ? state_->Status() : kStatusUnexpected;
    std::memcpy(place, row, state_->rowBytes);
    return AddRow();
}

std::uint32_t BottomUpWriter::Finish() {
    if (!state_ || state_->nextRow != 0) return kStatusUnexpected;
    State& s = *state_;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.changed.wait(lock, [&] { return s.bandsDone == s.bands.size() || s.status != kStatusOk; });
        if (s.status != kStatusOk) return s.status;
    }
    std::uint32_t adler = 1;
    bool ok = true;
    for (std::size_t k = 0; ok && k < s.bands.size(); ++k) {
        ok = WriteBand(s.out, s.bands[k], k, s.bands.size(), s.chunkBytes, &adler);
        s.bands[k].compressed.reset();
    }
    if (ok && s.out.Chunk("IEND", nullptr, 0)) return kStatusOk;
    systemError = s.out.SystemError();
    return s.Fail(kStatusWriteFailed);
}

}  // namespace png_write
