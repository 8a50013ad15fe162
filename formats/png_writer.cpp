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
#include "platform/file_io.h"

namespace png_write {

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
// Bands compressed ahead of the one being written, per thread: enough to keep
// every thread busy while a band is written out, few enough to bound memory.
constexpr std::size_t kBandsAheadPerThread = 2;
// Image data chunks of at most this many bytes.
constexpr std::size_t kMaxIdatBytes = std::size_t{1} << 20;
// Every compressed band ends in this many zero bytes beyond what libdeflate
// may write, for the walk that makes it continuable.
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
            ok_ = platform::Write(file_, p, n, &written) && written == n;
            p += n;
            size -= n;
        }
        return ok_;
    }

    bool Chunk(const char* type, const std::uint8_t* data, std::size_t size) {
        std::uint8_t head[8];
        PutBe32(head, static_cast<std::uint32_t>(size));
        std::memcpy(head + 4, type, 4);
        std::uint32_t crc = libdeflate_crc32(0, type, 4);
        // (libdeflate takes a null buffer as a request for the initial value.)
        if (size != 0) crc = libdeflate_crc32(crc, data, size);
        std::uint8_t tail[4];
        PutBe32(tail, crc);
        return Raw(head, 8) && Raw(data, size) && Raw(tail, 4);
    }

private:
    platform::FileHandle file_;
    bool ok_ = true;
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
    if (layout.colorType == 3) {
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
using Buffer = std::unique_ptr<std::uint8_t[]>;

struct Band {
    std::uint32_t firstRow = 0;
    std::uint32_t rows = 0;
    Buffer compressed;   // two bytes room for the zlib header first
    std::size_t size = 0;                  // compressed bytes after that room
    std::uint32_t adler = 1;
    std::uint64_t filteredBytes = 0;
    bool done = false;
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
    BandEncoder(const Layout& layout, const RowSource& rows)
        : layout_(layout), rows_(rows), rowBytes_(RowBytes(layout)) {
        filter_.n = rowBytes_;
        filter_.bpp = std::max<std::size_t>(1, static_cast<std::size_t>(layout.bitDepth) *
                                                   (layout.colorType == 2 ? 3 : 1) / 8);
    }

    // Filters and deflates one band into `buffer` (BufferBytes of the
    // largest band); the zlib stream's framing is the writer's. Returns a status.
    std::uint32_t Encode(Band& band, bool last, Buffer buffer) {
        const bool adaptive = layout_.colorType == 2 && layout_.bitDepth >= 8;
        std::vector<std::uint8_t> above(rowBytes_, 0);
        std::vector<std::uint8_t> current(rowBytes_);
        if (band.firstRow > 0 && !rows_(band.firstRow - 1, above.data())) return kStatusReadFailed;
        filtered_.resize((rowBytes_ + 1) * band.rows);
        std::uint64_t magnitude = 0;
        for (std::uint32_t i = 0; i < band.rows; ++i) {
            if (!rows_(band.firstRow + i, current.data())) return kStatusReadFailed;
            magnitude += filter_.Row(current.data(), above.data(), adaptive,
                                     filtered_.data() + (rowBytes_ + 1) * i);
            above.swap(current);
        }
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

    // Room for the zlib header before the compressed data, and after it for
    // the stored block that joins the next band or the checksum, and the
    // walker's slack.
    static std::size_t BufferBytes(std::size_t filteredBytes) {
        return 2 + libdeflate_deflate_compress_bound(nullptr, filteredBytes) + 5 + kSlack;
    }

private:
    const Layout& layout_;
    const RowSource& rows_;
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
            if (!encoder) encoder = std::make_unique<BandEncoder>(layout_, rows_);
            Buffer buffer;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!spare_.empty()) {
                    buffer = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            if (!buffer) buffer.reset(new std::uint8_t[bufferBytes_]);
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

std::uint32_t WriteImageData(ChunkFile& out, const Layout& layout, const RowSource& rows,
                             const Options& options) {
    const std::size_t rowBytes = RowBytes(layout);
    const std::size_t perBand = std::max<std::size_t>(1, options.bandBytes / (rowBytes + 1));
    const auto rowsPerBand = static_cast<std::uint32_t>(std::min<std::size_t>(perBand, layout.height));
    unsigned threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
    // Beyond a few threads the bands held in memory grow faster than the
    // speed: writing the file becomes the limit.
    threads = std::clamp(threads, 1u, 8u);
    const std::size_t bandCount = (layout.height + rowsPerBand - 1) / rowsPerBand;
    if (bandCount < threads) threads = static_cast<unsigned>(bandCount);

    BandPipeline pipeline(layout, rows, rowsPerBand, threads);
    std::uint32_t adler = 1;
    std::size_t index = 0;
    return pipeline.Run([&](Band& band) {
        adler = deflate_join::CombineAdler32(adler, band.adler, band.filteredBytes);
        std::uint8_t* begin = band.compressed.get() + 2;
        std::uint8_t* end = begin + band.size;
        if (index == 0) {
            // Deflate with a 32 KB window, no preset dictionary; the check
            // bits make the two bytes a multiple of 31.
            *--begin = 0x01;
            *--begin = 0x78;
        }
        if (++index == pipeline.Count()) {
            PutBe32(end, adler);
            end += 4;
        }
        for (std::uint8_t* p = begin; p < end; p += kMaxIdatBytes) {
            if (!out.Chunk("IDAT", p, std::min<std::size_t>(kMaxIdatBytes, static_cast<std::size_t>(end - p)))) {
                return false;
            }
        }
        return true;
    });
}

}  // namespace

std::size_t RowBytes(const Layout& layout) {
    const int channels = layout.colorType == 2 ? 3 : 1;
    return (std::size_t{layout.width} * channels * static_cast<std::size_t>(layout.bitDepth) + 7) / 8;
}

full::Result Write(const std::string& path, const Layout& layout, const RowSource& rows,
                   const Options& options) {
    if (layout.width == 0 || layout.height == 0) return full::Failure(kStatusUnexpected, "");
    const platform::FileHandle file = platform::CreateWrite(path.c_str());
    if (file == platform::kInvalidFile) return full::Failure(kStatusOutputNotCreated, "");
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
    platform::Close(file);
    if (status != kStatusOk) return full::Failure(status, "");
    return {};
}

}  // namespace png_write
