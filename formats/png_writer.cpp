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
// The walker reads eight bytes at a time, so every compressed band ends in
// this many zero bytes beyond what libdeflate may write.
constexpr std::size_t kSlack = 8;
// Bits a peek at the stream holds at least.
constexpr int kPeekBits = 57;

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

// ------------------------------------------------------- deflate walking ----

// Reads a raw deflate stream bit by bit, least significant bit first, as
// deflate packs them. The data must be followed by kSlack readable bytes.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), limit_(8 * std::uint64_t{size}) {}

    // At least kPeekBits bits from the position on.
    std::uint64_t Peek() const {
        std::uint64_t v;
        std::memcpy(&v, data_ + (pos_ >> 3), 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        v = __builtin_bswap64(v);
#endif
        return v >> (pos_ & 7);
    }
    std::uint32_t Take(int n) {
        const auto v = static_cast<std::uint32_t>(Peek() & ((std::uint64_t{1} << n) - 1));
        pos_ += static_cast<std::uint64_t>(n);
        return v;
    }
    void Skip(int n) { pos_ += static_cast<std::uint64_t>(n); }
    void AlignToByte() { pos_ = (pos_ + 7) & ~std::uint64_t{7}; }
    void SkipBytes(std::uint64_t n) { pos_ += 8 * n; }
    std::uint64_t Position() const { return pos_; }
    const std::uint8_t* BytePointer() const { return data_ + (pos_ >> 3); }
    // True while the reader has not run past the data (the slack excepted, at
    // most one peek's worth, which a check after every symbol catches).
    bool Within() const { return pos_ <= limit_; }

private:
    const std::uint8_t* data_;
    std::uint64_t limit_;
    std::uint64_t pos_ = 0;
};

// A canonical Huffman code as tables indexed by the next bits of the stream:
// codes of up to kDirectBits bits are found at once, longer ones through a
// second table for their first kDirectBits bits, so that the first table
// stays small enough for the processor's fastest cache. An entry is
// symbol << 8 | code length, kLink | start << 8 | length of the longest code
// behind it for a link, 0 where no code starts.
class Decoder {
public:
    bool Build(const std::uint8_t* lengths, int count) {
        int perLength[16] = {};
        for (int s = 0; s < count; ++s) ++perLength[lengths[s]];
        perLength[0] = 0;
        int longest = 0;
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = 2 * left - perLength[len];
            if (left < 0) return false;  // more codes than the lengths allow
            if (perLength[len] != 0) longest = len;
        }
        int next[16] = {};
        for (int len = 1, code = 0; len < 16; ++len) {
            code = (code + perLength[len - 1]) << 1;
            next[len] = code;
        }
        direct_ = std::min(longest, kDirectBits);
        const std::size_t directSize = std::size_t{1} << direct_;
        const int second = longest - direct_;  // bits indexing a second-level table
        table_.assign(directSize, 0);
        for (int s = 0; s < count; ++s) {
            const int len = lengths[s];
            if (len == 0) continue;
            const int code = next[len]++;
            std::uint32_t reversed = 0;
            for (int i = 0; i < len; ++i) reversed |= static_cast<std::uint32_t>((code >> i) & 1) << (len - 1 - i);
            const std::uint32_t entry = static_cast<std::uint32_t>(s) << 8 | static_cast<std::uint32_t>(len);
            if (len <= direct_) {
                for (std::size_t k = reversed; k < directSize; k += std::size_t{1} << len) table_[k] = entry;
                continue;
            }
            const std::uint32_t head = reversed & static_cast<std::uint32_t>(directSize - 1);
            if (table_[head] == 0) {
                table_[head] = kLink | static_cast<std::uint32_t>(table_.size()) << 8 | static_cast<std::uint32_t>(longest);
                table_.resize(table_.size() + (std::size_t{1} << second), 0);
            }
            const std::size_t start = table_[head] >> 8 & 0x7FFFFF;
            for (std::size_t k = reversed >> direct_; k < (std::size_t{1} << second); k += std::size_t{1} << (len - direct_)) {
                table_[start + k] = entry;
            }
        }
        return true;
    }

    // The entry for the code at the start of `bits` (least significant bit
    // first): symbol << 8 | code length, or 0 where no code starts.
    std::uint32_t Lookup(std::uint64_t bits) const {
        std::uint32_t e = table_[bits & ((std::uint64_t{1} << direct_) - 1)];
        if (e & kLink) {
            const int second = static_cast<int>(e & 0xFF) - direct_;
            e = table_[(e >> 8 & 0x7FFFFF) + ((bits >> direct_) & ((std::uint64_t{1} << second) - 1))];
        }
        return e;
    }

    // The next symbol, or -1 where the stream holds no code.
    int Next(BitReader& in) const {
        const std::uint32_t e = Lookup(in.Peek());
        if (e == 0) return -1;
        in.Skip(static_cast<int>(e & 0xFF));
        return static_cast<int>(e >> 8);
    }

private:
    static constexpr int kDirectBits = 10;
    static constexpr std::uint32_t kLink = 0x80000000u;
    int direct_ = 0;
    std::vector<std::uint32_t> table_;
};

constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool ReadDynamicCodes(BitReader& in, Decoder* literals, Decoder* distances) {
    static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int literalCount = static_cast<int>(in.Take(5)) + 257;
    const int distanceCount = static_cast<int>(in.Take(5)) + 1;
    const int lengthCodeCount = static_cast<int>(in.Take(4)) + 4;
    std::uint8_t lengthLengths[19] = {};
    for (int i = 0; i < lengthCodeCount; ++i) lengthLengths[kOrder[i]] = static_cast<std::uint8_t>(in.Take(3));
    Decoder lengthCode;
    if (!lengthCode.Build(lengthLengths, 19)) return false;
    std::uint8_t lengths[288 + 32] = {};
    const int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        const int s = lengthCode.Next(in);
        if (s < 0) return false;
        if (s < 16) {
            lengths[i++] = static_cast<std::uint8_t>(s);
            continue;
        }
        std::uint8_t value = 0;
        int repeat = 0;
        if (s == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(in.Take(2));
        } else if (s == 17) {
            repeat = 3 + static_cast<int>(in.Take(3));
        } else {
            repeat = 11 + static_cast<int>(in.Take(7));
        }
        if (i + repeat > total || !in.Within()) return false;
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
    }
    return lengths[256] != 0 && in.Within() && literals->Build(lengths, literalCount) &&
           distances->Build(lengths + literalCount, distanceCount);
}

const Decoder* FixedCodes(bool distances) {
    static const auto codes = [] {
        std::uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::uint8_t five[32];
        std::fill(five, five + 32, 5);
        std::array<Decoder, 2> d;
        d[0].Build(lengths, 288);
        d[1].Build(five, 32);
        return d;
    }();
    return &codes[distances ? 1 : 0];
}

// Walks a complete raw deflate stream to its end: *finalHeader receives the
// bit position of its last block's header, *end the bit position just after
// that block. False when the data is not such a stream.
bool FindLastBlock(const std::uint8_t* data, std::size_t size, std::uint64_t* finalHeader,
                   std::uint64_t* end) {
    BitReader in(data, size);
    Decoder literals;
    Decoder distances;
    for (bool last = false; !last;) {
        *finalHeader = in.Position();
        last = in.Take(1) != 0;
        const std::uint32_t type = in.Take(2);
        if (type == 0) {
            in.AlignToByte();
            if (in.Position() / 8 + 4 > size) return false;
            const std::uint8_t* p = in.BytePointer();
            const unsigned length = p[0] | p[1] << 8;
            if ((length ^ (p[2] | p[3] << 8)) != 0xFFFF) return false;
            in.SkipBytes(4 + std::uint64_t{length});
            if (!in.Within()) return false;
            continue;
        }
        const Decoder* lit = &literals;
        const Decoder* dist = &distances;
        if (type == 1) {
            lit = FixedCodes(false);
            dist = FixedCodes(true);
        } else if (type != 2 || !ReadDynamicCodes(in, &literals, &distances)) {
            return false;
        }
        // The symbols of a block: a word of the stream is kept in a register
        // and only read again when it runs short, which keeps the chain from
        // one code to the next short (this loop runs once per symbol).
        std::uint64_t word = in.Peek();
        int used = 0;  // bits of word consumed
        // Makes sure the word holds `bits` more bits; false when the stream
        // has run past its end (never read beyond the slack).
        const auto need = [&](int bits) {
            if (used + bits <= kPeekBits) return true;
            in.Skip(used);
            used = 0;
            if (!in.Within()) return false;
            word = in.Peek();
            return true;
        };
        for (;;) {
            if (!need(15)) return false;
            std::uint32_t e = lit->Lookup(word >> used);
            used += static_cast<int>(e & 0xFF);
            const std::uint32_t s = e >> 8;
            if (s < 256) {
                if (e == 0) return false;
                continue;
            }
            if (s == 256) break;
            if (s > 285) return false;
            used += kLengthExtra[s - 257];
            if (!need(15)) return false;
            e = dist->Lookup(word >> used);
            used += static_cast<int>(e & 0xFF);
            if (e == 0 || (e >> 8) > 29) return false;
            used += kDistanceExtra[e >> 8];
        }
        in.Skip(used);
        if (!in.Within()) return false;
    }
    *end = in.Position();
    return true;
}

// Turns a complete raw deflate stream into one that a following stream may
// continue: clears its last block's final mark and ends it with an empty
// stored block, which pads to a byte boundary. *size is the stream's length
// on entry and the new length after; the buffer must have room for five more
// bytes plus the slack.
bool MakeContinuable(std::uint8_t* data, std::size_t* size) {
    std::uint64_t finalHeader = 0;
    std::uint64_t end = 0;
    if (!FindLastBlock(data, *size, &finalHeader, &end)) return false;
    data[finalHeader >> 3] &= static_cast<std::uint8_t>(~(1u << (finalHeader & 7)));
    std::size_t bytes = static_cast<std::size_t>((end + 7) / 8);
    const int used = static_cast<int>(end & 7);  // bits of the last byte in use; 0 if all
    if (used != 0) data[bytes - 1] &= static_cast<std::uint8_t>((1u << used) - 1);
    // The stored block's header is three zero bits: in the unused bits of the
    // last byte when there are three, in a byte of its own otherwise.
    if (used == 0 || used > 5) data[bytes++] = 0;
    static const std::uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(data + bytes, kEmptyStored, 4);
    *size = bytes + 4;
    return true;
}

// The Adler-32 of two pieces joined, from the sums of each and the length of
// the second.
std::uint32_t CombineAdler32(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
    constexpr std::uint32_t kBase = 65521;
    const auto remainder = static_cast<std::uint32_t>(secondLength % kBase);
    std::uint32_t sum1 = first & 0xFFFF;
    std::uint32_t sum2 = static_cast<std::uint32_t>((std::uint64_t{remainder} * sum1) % kBase);
    sum1 += (second & 0xFFFF) + kBase - 1;
    sum2 += (first >> 16) + (second >> 16) + kBase - remainder;
    sum1 %= kBase;
    sum2 %= kBase;
    return sum1 | sum2 << 16;
}

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
        if (!last && !MakeContinuable(out, &band.size)) return kStatusUnexpected;
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
        adler = CombineAdler32(adler, band.adler, band.filteredBytes);
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
