#include "formats/rq6_writer.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <limits>
#include <queue>
#include <stdexcept>
#include <utility>

#include "platform/file_io.h"

namespace rq6 {

std::vector<std::uint8_t> BitWriter::Bytes() const {
    std::vector<std::uint8_t> result = bytes_;
    if (pendingCount_ > 0) {
        result.push_back(static_cast<std::uint8_t>(pending_ << (8 - pendingCount_)));
    }
    return result;
}

void BitWriter::PutCodes(const std::uint8_t* data, std::size_t count,
                         const std::array<std::uint32_t, 256>& code,
                         const std::array<std::uint8_t, 256>& length) {
    // The bits gather in a 64-bit word and leave it 32 at a time, through a
    // small staging area, instead of a byte at a time into the vector.
    constexpr std::size_t kStage = 4096;
    std::uint8_t stage[kStage + 4];
    std::size_t staged = 0;
    std::uint64_t word = pending_ & ((std::uint64_t{1} << pendingCount_) - 1);
    int held = pendingCount_;  // bits in word; below 32 between bytes
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        const int n = length[b];
        word = word << n | code[b];
        held += n;
        total += static_cast<std::uint64_t>(n);
        if (held >= 32) {
            held -= 32;
            const auto out = static_cast<std::uint32_t>(word >> held);
            stage[staged] = static_cast<std::uint8_t>(out >> 24);
            stage[staged + 1] = static_cast<std::uint8_t>(out >> 16);
            stage[staged + 2] = static_cast<std::uint8_t>(out >> 8);
            stage[staged + 3] = static_cast<std::uint8_t>(out);
            staged += 4;
            if (staged >= kStage) {
                bytes_.insert(bytes_.end(), stage, stage + staged);
                staged = 0;
            }
        }
    }
    while (held >= 8) {
        held -= 8;
        stage[staged++] = static_cast<std::uint8_t>(word >> held);
    }
    bytes_.insert(bytes_.end(), stage, stage + staged);
    pending_ = word;
    pendingCount_ = held;
    bitCount_ += total;
}

void BitWriter::TakeCompleteBytes(std::vector<std::uint8_t>* out) {
    out->swap(bytes_);
    bytes_.clear();
}

void BitWriter::AppendBytes(const BitWriter& other, std::size_t from, std::size_t to) {
    const std::uint8_t* in = other.bytes_.data() + from;
    const std::size_t count = to - from;
    const int shift = pendingCount_;
    if (shift == 0) {
        bytes_.insert(bytes_.end(), in, in + count);
    } else {
        // Each byte of `other` straddles two bytes here: its high bits finish
        // the unfinished byte, its low bits start the next one.
        const std::uint32_t mask = (1u << shift) - 1;
        auto carry = static_cast<std::uint32_t>(pending_) & mask;
        const std::size_t at = bytes_.size();
        bytes_.resize(at + count);
        std::uint8_t* out = bytes_.data() + at;
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<std::uint8_t>(carry << (8 - shift) | in[i] >> shift);
            carry = in[i] & mask;
        }
        pending_ = carry;
    }
    bitCount_ += 8 * std::uint64_t{count};
}

void BitWriter::AppendUnfinished(const BitWriter& other) {
    const int rest = other.pendingCount_;
    if (rest > 0) PutShort(other.pending_ & ((std::uint64_t{1} << rest) - 1), rest);
}

namespace {

// Validates a child reference of a caller-supplied tree.
int Child(const CodeTree& tree, const std::vector<int>& children, int node) {
    const int index = node - kLeafCount;
    if (index < 0 || index >= static_cast<int>(children.size())) {
        throw std::invalid_argument("code tree node out of range");
    }
    const int child = children[static_cast<std::size_t>(index)];
    if (child < 0 || child >= kLeafCount + tree.InternalNodeCount()) {
        throw std::invalid_argument("code tree child out of range");
    }
    return child;
}

// Deeper than any tree a test could mean; stops a cyclic tree from recursing forever.
constexpr int kMaxDepth = 4096;

void SerializeNode(const CodeTree& tree, int node, int depth, BitWriter& out) {
    if (depth > kMaxDepth) throw std::invalid_argument("code tree too deep or cyclic");
    if (node < kLeafCount) {
        out.PutBit(0);
        out.Put(static_cast<std::uint64_t>(node), kLeafValueBits);
        return;
    }
    out.PutBit(1);
    SerializeNode(tree, Child(tree, tree.first, node), depth + 1, out);
    SerializeNode(tree, Child(tree, tree.second, node), depth + 1, out);
}

// Codes per byte value. Codes of up to 64 bits are kept as a number; longer
// ones (only hand-made degenerate trees have them) as their bit sequence.
struct CodeTable {
    std::array<int, 256> length{};  // -1: no leaf for this value
    std::array<std::uint64_t, 256> bits{};
    std::array<std::vector<std::uint8_t>, 256> path;
    // The same codes for BitWriter::PutCodes, when every code is at most 32
    // bits (optimal codes for any real picture are far shorter).
    bool short32 = false;
    std::array<std::uint32_t, 256> code32{};
    std::array<std::uint8_t, 256> length8{};

    void Put(std::uint8_t value, BitWriter& out) const {
        const int n = length[value];
        if (n <= 64) {
            out.Put(bits[value], n);
        } else {
            for (const std::uint8_t bit : path[value]) out.PutBit(bit);
        }
    }

    void PutAll(const std::uint8_t* data, std::size_t count, BitWriter& out) const {
        if (short32) {
            out.PutCodes(data, count, code32, length8);
        } else {
            for (std::size_t i = 0; i < count; ++i) Put(data[i], out);
        }
    }
};

void CollectCodes(const CodeTree& tree, int node, std::vector<std::uint8_t>& path,
                  CodeTable& table) {
    if (static_cast<int>(path.size()) > kMaxDepth) {
        throw std::invalid_argument("code tree too deep or cyclic");
    }
    if (node < kLeafCount) {
        const int n = static_cast<int>(path.size());
        // A value with several leaves gets its shortest code.
        if (table.length[node] >= 0 && table.length[node] <= n) return;
        table.length[node] = n;
        table.path[node] = path;
        std::uint64_t bits = 0;
        for (const std::uint8_t bit : path) bits = bits << 1 | bit;
        table.bits[node] = bits;
        return;
    }
    path.push_back(0);
    CollectCodes(tree, Child(tree, tree.first, node), path, table);
    path.back() = 1;
    CollectCodes(tree, Child(tree, tree.second, node), path, table);
    path.pop_back();
}

CodeTable MakeCodes(const CodeTree& tree) {
    CodeTable table;
    table.length.fill(-1);
    std::vector<std::uint8_t> path;
    if (tree.root < 0 || tree.root >= kLeafCount + tree.InternalNodeCount()) {
        throw std::invalid_argument("code tree root out of range");
    }
    CollectCodes(tree, tree.root, path, table);
    table.short32 = true;
    for (int v = 0; v < 256; ++v) {
        // Values without a leaf get an empty code; the callers refuse
        // payloads that hold them before coding anything.
        const int n = std::max(table.length[v], 0);
        if (n > 32) table.short32 = false;
        table.length8[v] = static_cast<std::uint8_t>(std::min(n, 32));
        table.code32[v] = static_cast<std::uint32_t>(table.bits[v]);
    }
    return table;
}

void RequireCodes(const CodeTable& codes, const std::array<std::uint64_t, 256>& histogram) {
    for (int v = 0; v < 256; ++v) {
        if (histogram[v] != 0 && codes.length[v] < 0) {
            throw std::invalid_argument("payload byte has no leaf in the code tree");
        }
    }
}

void CountBytes(const std::uint8_t* data, std::size_t size,
                std::array<std::uint64_t, 256>& histogram) {
    // Four tables in turn: row differences are full of equal bytes (0x00 and
    // 0xFF above small differences), and with one table each increment would
    // wait for the one before.
    std::uint64_t part[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++part[0][data[i]];
        ++part[1][data[i + 1]];
        ++part[2][data[i + 2]];
        ++part[3][data[i + 3]];
    }
    for (; i < size; ++i) ++part[0][data[i]];
    for (int v = 0; v < 256; ++v) histogram[v] += part[0][v] + part[1][v] + part[2][v] + part[3][v];
}

// Bits the counted bytes take in these codes.
std::uint64_t CodedBits(const std::array<std::uint64_t, 256>& histogram, const CodeTable& codes) {
    std::uint64_t total = 0;
    for (int v = 0; v < 256; ++v) {
        if (histogram[v] != 0) total += histogram[v] * static_cast<std::uint64_t>(codes.length[v]);
    }
    return total;
}

// The headers are written in place at their offsets, little-endian.
void PutFields(std::uint8_t* fh, std::uint8_t* ih, const PayloadFields& f, std::uint32_t width,
               std::uint32_t height, std::uint32_t regionSize) {
    const std::uint32_t imageSize = StoredRowStride(width) * height;  // wraps like a 32-bit field
    bmp::Put16(fh, bmp::kBfType, f.bfType);
    bmp::Put32(fh, bmp::kBfSize, f.bfSize.value_or(bmp::kHeadersSize + regionSize + imageSize));
    bmp::Put16(fh, bmp::kBfReserved1, f.bfReserved1);
    bmp::Put16(fh, bmp::kBfReserved2, f.bfReserved2);
    bmp::Put32(fh, bmp::kBfOffBits, f.bfOffBits.value_or(bmp::kHeadersSize + regionSize));
    bmp::Put32(ih, bmp::kBiSize, f.biSize);
    bmp::Put32(ih, bmp::kBiWidth,
               static_cast<std::uint32_t>(f.biWidth.value_or(static_cast<std::int32_t>(width))));
    bmp::Put32(ih, bmp::kBiHeight,
               static_cast<std::uint32_t>(f.biHeight.value_or(static_cast<std::int32_t>(height))));
    bmp::Put16(ih, bmp::kBiPlanes, f.biPlanes);
    bmp::Put16(ih, bmp::kBiBitCount, f.biBitCount);
    bmp::Put32(ih, bmp::kBiCompression, f.biCompression);
    bmp::Put32(ih, bmp::kBiSizeImage, f.biSizeImage.value_or(imageSize));
    bmp::Put32(ih, bmp::kBiXPelsPerMeter, static_cast<std::uint32_t>(f.biXPelsPerMeter));
    bmp::Put32(ih, bmp::kBiYPelsPerMeter, static_cast<std::uint32_t>(f.biYPelsPerMeter));
    bmp::Put32(ih, bmp::kBiClrUsed, f.biClrUsed);
    bmp::Put32(ih, bmp::kBiClrImportant, f.biClrImportant);
}

// The headers and the comment region: everything before the first row.
std::vector<std::uint8_t> BuildPreamble(std::uint32_t width, std::uint32_t height,
                                        const std::string& comment, const PayloadFields& f) {
    const std::string region = f.rawComment ? *f.rawComment : comment + '\0';
    std::vector<std::uint8_t> out(bmp::kHeadersSize + region.size());
    PutFields(out.data(), out.data() + bmp::kFileHeaderSize, f, width, height,
              static_cast<std::uint32_t>(region.size()));
    std::copy(region.begin(), region.end(), out.begin() + bmp::kHeadersSize);
    return out;
}

// Stores one row as differences modulo 65536: from the same sample of the
// previous stored row, or, for the first row, from the pixel to the left
// (its first pixel as it is). `out` receives RowStride(width) bytes.
void DeltaCodeRow(const std::uint16_t* current, const std::uint16_t* previous, std::uint32_t width,
                  std::uint8_t* out) {
    const std::size_t samples = std::size_t{3} * width;
    for (std::size_t i = 0; i < samples; ++i) {
        std::uint16_t reference = 0;
        if (previous != nullptr) {
            reference = previous[i];
        } else if (i >= 3) {
            reference = current[i - 3];
        }
        const auto d = static_cast<std::uint16_t>(current[i] - reference);
        out[2 * i] = static_cast<std::uint8_t>(d);
        out[2 * i + 1] = static_cast<std::uint8_t>(d >> 8);
    }
    std::fill(out + 2 * samples, out + StoredRowStride(width), std::uint8_t{0});
}

std::vector<std::uint8_t> FileStart(std::uint32_t extra) {
    std::vector<std::uint8_t> out(std::begin(kMagicBytes), std::end(kMagicBytes));
    for (std::uint32_t i = 0; i < kExtraSize; ++i) {
        out.push_back(static_cast<std::uint8_t>(extra >> (8 * i)));
    }
    return out;
}

// A short write is a failure (the platform layer reports a full disk that way),
// so nothing is retried.
bool WriteAll(platform::FileHandle file, const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    while (size > 0) {
        const auto n = static_cast<std::uint32_t>(std::min(size, kChunk));
        std::uint32_t written = 0;
        if (!platform::Write(file, data, n, &written) || written != n) return false;
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

CodeTree BuildOptimalTree(const std::array<std::uint64_t, 256>& histogram) {
    // (weight, order): the order makes ties, and so the tree, deterministic.
    using Entry = std::pair<std::uint64_t, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (int v = 0; v < 256; ++v) {
        if (histogram[v] != 0) queue.emplace(histogram[v], v);
    }
    CodeTree tree;
    if (queue.size() <= 1) {
        tree.root = queue.empty() ? 0 : queue.top().second;
        return tree;
    }
    // Merge with temporary numbers (256 + creation order), then renumber in
    // pre-order the way a reader numbers nodes.
    std::vector<int> tempFirst;
    std::vector<int> tempSecond;
    while (queue.size() > 1) {
        const Entry a = queue.top();
        queue.pop();
        const Entry b = queue.top();
        queue.pop();
        tempFirst.push_back(a.second);
        tempSecond.push_back(b.second);
        const int node = kLeafCount + static_cast<int>(tempFirst.size()) - 1;
        queue.emplace(a.first + b.first, node);
    }
    const std::function<int(int)> renumber = [&](int temp) -> int {
        if (temp < kLeafCount) return temp;
        const int node = kLeafCount + tree.InternalNodeCount();
        tree.first.push_back(0);
        tree.second.push_back(0);
        const int f = renumber(tempFirst[static_cast<std::size_t>(temp - kLeafCount)]);
        const int s = renumber(tempSecond[static_cast<std::size_t>(temp - kLeafCount)]);
        tree.first[static_cast<std::size_t>(node - kLeafCount)] = f;
        tree.second[static_cast<std::size_t>(node - kLeafCount)] = s;
        return node;
    };
    tree.root = renumber(queue.top().second);
    return tree;
}

CodeTree ChainTree(int internalNodes) {
    if (internalNodes < 1) throw std::invalid_argument("a chain needs an internal node");
    CodeTree tree;
    tree.root = kLeafCount;
    for (int i = 0; i < internalNodes; ++i) {
        tree.first.push_back(i % 256);
        tree.second.push_back(i + 1 < internalNodes ? kLeafCount + i + 1 : internalNodes % 256);
    }
    return tree;
}

void SerializeTree(const CodeTree& tree, BitWriter& out) { SerializeNode(tree, tree.root, 0, out); }

std::uint64_t PayloadBitCount(const std::vector<std::uint8_t>& payload, const CodeTree& tree) {
    std::array<std::uint64_t, 256> histogram{};
    CountBytes(payload.data(), payload.size(), histogram);
    const CodeTable codes = MakeCodes(tree);
    RequireCodes(codes, histogram);
    return CodedBits(histogram, codes);
}

std::vector<std::uint8_t> BuildPayload(std::uint32_t width, std::uint32_t height,
                                       const std::vector<std::uint16_t>& bgrRowsBottomFirst,
                                       const std::string& comment, const PayloadFields& fields) {
    const std::size_t rowSamples = std::size_t{3} * width;
    if (bgrRowsBottomFirst.size() < rowSamples * height) {
        throw std::invalid_argument("fewer samples than width x height pixels");
    }
    std::vector<std::uint8_t> payload = BuildPreamble(width, height, comment, fields);
    const std::size_t start = payload.size();
    const std::size_t stride = StoredRowStride(width);
    payload.resize(start + stride * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint16_t* current = bgrRowsBottomFirst.data() + rowSamples * y;
        DeltaCodeRow(current, y == 0 ? nullptr : current - rowSamples, width,
                     payload.data() + start + stride * y);
    }
    return payload;
}

std::vector<std::uint8_t> EncodeRq6(const std::vector<std::uint8_t>& payload, std::uint32_t extra) {
    std::array<std::uint64_t, 256> histogram{};
    CountBytes(payload.data(), payload.size(), histogram);
    return EncodeRq6WithTree(payload, BuildOptimalTree(histogram), extra);
}

std::vector<std::uint8_t> EncodeRq6WithTree(const std::vector<std::uint8_t>& payload,
                                            const CodeTree& tree, std::uint32_t extra) {
    const CodeTable codes = MakeCodes(tree);
    std::array<std::uint64_t, 256> histogram{};
    CountBytes(payload.data(), payload.size(), histogram);
    RequireCodes(codes, histogram);

    BitWriter bits;
    SerializeTree(tree, bits);
    codes.PutAll(payload.data(), payload.size(), bits);

    std::vector<std::uint8_t> file = FileStart(extra);
    const std::vector<std::uint8_t> stream = bits.Bytes();
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

bool WriteBytes(const char* utf8Path, const std::vector<std::uint8_t>& bytes) {
    const platform::FileHandle file = platform::CreateWrite(utf8Path);
    if (file == platform::kInvalidFile) return false;
    const bool ok = WriteAll(file, bytes.data(), bytes.size());
    platform::Close(file);
    if (!ok) platform::Remove(utf8Path);
    return ok;
}

namespace {

// Writes the coded picture to the file `open` gives once the code is known
// (kInvalidFile: none could be had, and nothing is written). False on failure.
bool WriteCoded(std::uint32_t width, std::uint32_t height, const std::string& comment,
                const RowSource& row, const PayloadFields& fields, const RunBoth& runBoth,
                const std::function<platform::FileHandle()>& open) {
    const std::vector<std::uint8_t> preamble = BuildPreamble(width, height, comment, fields);
    // Stored rows [0, split) are the first half, [split, height) the second.
    const std::uint32_t split = runBoth ? height / 2 : height;

    // Hands the coded rows [from, to) to `use`, in order; every row is
    // delta-coded against the one below it, fetched again for a half that
    // starts above the bottom.
    const auto forEachCodedRow = [&](std::uint32_t from, std::uint32_t to, const auto& use) {
        if (from >= to) return;
        const std::size_t rowSamples = std::size_t{3} * width;
        std::vector<std::uint16_t> current(rowSamples);
        std::vector<std::uint16_t> previous(rowSamples);
        std::vector<std::uint8_t> coded(StoredRowStride(width));
        if (from > 0) row(from - 1, previous.data());
        for (std::uint32_t y = from; y < to; ++y) {
            row(y, current.data());
            DeltaCodeRow(current.data(), y == 0 ? nullptr : previous.data(), width, coded.data());
            use(coded);
            current.swap(previous);
        }
    };
    const auto both = [&](const std::function<void()>& first, const std::function<void()>& second) {
        if (runBoth) {
            runBoth(first, second);
        } else {
            first();
            second();
        }
    };

    std::array<std::uint64_t, 256> histogram{};
    std::array<std::uint64_t, 256> upper{};
    CountBytes(preamble.data(), preamble.size(), histogram);
    const auto count = [&](std::uint32_t from, std::uint32_t to, std::array<std::uint64_t, 256>& h) {
        forEachCodedRow(from, to, [&](const std::vector<std::uint8_t>& bytes) {
            CountBytes(bytes.data(), bytes.size(), h);
        });
    };
    both([&] { count(0, split, histogram); }, [&] { count(split, height, upper); });
    for (int v = 0; v < 256; ++v) histogram[v] += upper[v];
    const CodeTree tree = BuildOptimalTree(histogram);
    const CodeTable codes = MakeCodes(tree);

    BitWriter bits;
    BitWriter upperBits;
    if (split < height) upperBits.Reserve(static_cast<std::size_t>(CodedBits(upper, codes) / 8 + 1));

    const platform::FileHandle file = open();
    if (file == platform::kInvalidFile) return false;
    const std::vector<std::uint8_t> start = FileStart(0);
    bool ok = WriteAll(file, start.data(), start.size());

    SerializeTree(tree, bits);
    codes.PutAll(preamble.data(), preamble.size(), bits);
    std::vector<std::uint8_t> ready;
    constexpr std::size_t kFlushBytes = std::size_t{1} << 20;
    both(
        [&] {
            forEachCodedRow(0, split, [&](const std::vector<std::uint8_t>& bytes) {
                if (!ok) return;
                codes.PutAll(bytes.data(), bytes.size(), bits);
                if (bits.BufferedBytes() >= kFlushBytes) {
                    bits.TakeCompleteBytes(&ready);
                    ok = WriteAll(file, ready.data(), ready.size());
                }
            });
        },
        [&] {
            forEachCodedRow(split, height, [&](const std::vector<std::uint8_t>& bytes) {
                codes.PutAll(bytes.data(), bytes.size(), upperBits);
            });
        });
    // The second half joins the first where its bits end, a megabyte at a time.
    for (std::size_t at = 0; ok && at < upperBits.BufferedBytes(); at += kFlushBytes) {
        bits.AppendBytes(upperBits, at, std::min(upperBits.BufferedBytes(), at + kFlushBytes));
        bits.TakeCompleteBytes(&ready);
        ok = WriteAll(file, ready.data(), ready.size());
    }
    if (ok) {
        bits.AppendUnfinished(upperBits);
        const std::vector<std::uint8_t> rest = bits.Bytes();
        ok = WriteAll(file, rest.data(), rest.size());
    }
    return ok;
}

}  // namespace

bool WriteRq6File(const char* utf8Path, std::uint32_t width, std::uint32_t height,
                  const std::string& comment, const RowSource& row, const PayloadFields& fields,
                  bool* created, const RunBoth& runBoth) {
    if (created) *created = false;
    // The file is closed however this ends, and kept only when written whole:
    // memory can still run out while coding, and then the caller hears.
    struct Closer {
        platform::FileHandle file = platform::kInvalidFile;
        const char* path;
        bool keep = false;
        ~Closer() {
            if (file == platform::kInvalidFile) return;
            platform::Close(file);
            if (!keep) platform::Remove(path);
        }
    } closer{platform::kInvalidFile, utf8Path};
    closer.keep = WriteCoded(width, height, comment, row, fields, runBoth, [&] {
        closer.file = platform::CreateWrite(utf8Path);
        if (created) *created = closer.file != platform::kInvalidFile;
        return closer.file;
    });
    return closer.keep;
}

bool WriteRq6(platform::FileHandle file, std::uint32_t width, std::uint32_t height,
              const std::string& comment, const RowSource& row, const RunBoth& runBoth) {
    return WriteCoded(width, height, comment, row, {}, runBoth, [file] { return file; });
}

}  // namespace rq6
