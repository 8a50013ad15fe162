#include "formats/rq6_writer.h"

#include <algorithm>
#include <functional>
#include <iterator>
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

// A node number as an index of the tables that hold one entry per leaf (a
// number below kLeafCount) or per internal node (one from kFirstInternalNode).
// Callers have told the two kinds apart, and Child and the root test have
// refused negative numbers, so neither index is ever negative.
std::size_t LeafIndex(int leaf) { return static_cast<std::size_t>(leaf); }
std::size_t InternalIndex(int node) { return static_cast<std::size_t>(node - kFirstInternalNode); }

// Validates a child reference of a caller-supplied tree.
int Child(const CodeTree& tree, const std::vector<int>& children, int node) {
    const int index = node - kFirstInternalNode;
    if (index < 0 || index >= static_cast<int>(children.size())) {
        throw std::invalid_argument("code tree node out of range");
    }
    const int child = children[InternalIndex(node)];
    if (child < 0 || child >= kFirstInternalNode + tree.InternalNodeCount()) {
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

// The longest code kept as a number, and the longest BitWriter::PutCodes takes.
constexpr int kMaxNumberBits = 64;
constexpr int kMaxPutCodesBits = 32;

void CountBytes(const std::uint8_t* data, std::size_t size,
                std::array<std::uint64_t, kLeafCount>& histogram) {
    // Four tables in turn: row differences are full of equal bytes (0x00 and
    // 0xFF above small differences), and with one table each increment would
    // wait for the one before.
    std::uint64_t part[4][kLeafCount] = {};
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++part[0][data[i]];
        ++part[1][data[i + 1]];
        ++part[2][data[i + 2]];
        ++part[3][data[i + 3]];
    }
    for (; i < size; ++i) ++part[0][data[i]];
    for (std::size_t v = 0; v < histogram.size(); ++v) {
        histogram[v] += part[0][v] + part[1][v] + part[2][v] + part[3][v];
    }
}

// Bits the counted bytes take in these codes.
std::uint64_t CodedBits(const std::array<std::uint64_t, kLeafCount>& histogram,
                        const CodeTable& codes) {
    std::uint64_t total = 0;
    for (std::size_t v = 0; v < histogram.size(); ++v) {
        const int length = codes.Length(static_cast<std::uint8_t>(v));
        if (histogram[v] != 0) total += histogram[v] * static_cast<std::uint64_t>(length);
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

// The magic and the uninterpreted value after it, which this writer leaves 0.
std::vector<std::uint8_t> FileStart() {
    std::vector<std::uint8_t> out(kStreamOffset, 0);
    std::copy(std::begin(kMagicBytes), std::end(kMagicBytes), out.begin());
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

CodeTable::CodeTable(const CodeTree& tree) {
    length_.fill(-1);
    std::vector<std::uint8_t> path;
    if (tree.root < 0 || tree.root >= kFirstInternalNode + tree.InternalNodeCount()) {
        throw std::invalid_argument("code tree root out of range");
    }
    Collect(tree, tree.root, path);
    short32_ = true;
    for (std::size_t v = 0; v < length_.size(); ++v) {
        // Values without a leaf get an empty code; the callers refuse
        // payloads that hold them before coding anything.
        const int n = std::max(length_[v], 0);
        if (n > kMaxPutCodesBits) short32_ = false;
        length8_[v] = static_cast<std::uint8_t>(std::min(n, kMaxPutCodesBits));
        code32_[v] = static_cast<std::uint32_t>(bits_[v]);
    }
}

void CodeTable::Collect(const CodeTree& tree, int node, std::vector<std::uint8_t>& path) {
    if (static_cast<int>(path.size()) > kMaxDepth) {
        throw std::invalid_argument("code tree too deep or cyclic");
    }
    if (node < kLeafCount) {
        const std::size_t leaf = LeafIndex(node);
        const int n = static_cast<int>(path.size());
        // A value with several leaves gets its shortest code.
        if (length_[leaf] >= 0 && length_[leaf] <= n) return;
        length_[leaf] = n;
        path_[leaf] = path;
        std::uint64_t bits = 0;
        for (const std::uint8_t bit : path) bits = bits << 1 | bit;
        bits_[leaf] = bits;
        return;
    }
    path.push_back(0);
    Collect(tree, Child(tree, tree.first, node), path);
    path.back() = 1;
    Collect(tree, Child(tree, tree.second, node), path);
    path.pop_back();
}

void CodeTable::Put(std::uint8_t value, BitWriter& out) const {
    const int n = length_[value];
    if (n <= kMaxNumberBits) {
        out.Put(bits_[value], n);
    } else {
        for (const std::uint8_t bit : path_[value]) out.PutBit(bit);
    }
}

void CodeTable::PutAll(const std::uint8_t* data, std::size_t count, BitWriter& out) const {
    if (short32_) {
        out.PutCodes(data, count, code32_, length8_);
    } else {
        for (std::size_t i = 0; i < count; ++i) Put(data[i], out);
    }
}

CodeTree BuildOptimalTree(const std::array<std::uint64_t, kLeafCount>& histogram) {
    // (weight, order): the order makes ties, and so the tree, deterministic.
    using Entry = std::pair<std::uint64_t, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (int v = 0; v < kLeafCount; ++v) {
        if (histogram[LeafIndex(v)] != 0) queue.emplace(histogram[LeafIndex(v)], v);
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
        const int node = kFirstInternalNode + static_cast<int>(tempFirst.size()) - 1;
        queue.emplace(a.first + b.first, node);
    }
    const std::function<int(int)> renumber = [&](int temp) -> int {
        if (temp < kLeafCount) return temp;
        const int node = kFirstInternalNode + tree.InternalNodeCount();
        tree.first.push_back(0);
        tree.second.push_back(0);
        const int f = renumber(tempFirst[InternalIndex(temp)]);
        const int s = renumber(tempSecond[InternalIndex(temp)]);
        tree.first[InternalIndex(node)] = f;
        tree.second[InternalIndex(node)] = s;
        return node;
    };
    tree.root = renumber(queue.top().second);
    return tree;
}

void SerializeTree(const CodeTree& tree, BitWriter& out) { SerializeNode(tree, tree.root, 0, out); }

std::vector<std::uint8_t> PayloadPreamble(std::uint32_t width, std::uint32_t height,
                                          const std::string& comment, const PayloadFields& f) {
    const std::string region = f.rawComment ? *f.rawComment : comment + '\0';
    std::vector<std::uint8_t> out(bmp::kHeadersSize + region.size());
    PutFields(out.data(), out.data() + bmp::kFileHeaderSize, f, width, height,
              static_cast<std::uint32_t>(region.size()));
    std::copy(region.begin(), region.end(), out.begin() + bmp::kHeadersSize);
    return out;
}

void DeltaCodeRow(const std::uint16_t* current, const std::uint16_t* previous, std::uint32_t width,
                  std::uint8_t* out) {
    const std::size_t samples = std::size_t{kSamplesPerPixel} * width;
    for (std::size_t i = 0; i < samples; ++i) {
        std::uint16_t reference = 0;
        if (previous != nullptr) {
            reference = previous[i];
        } else if (i >= kSamplesPerPixel) {
            reference = current[i - kSamplesPerPixel];
        }
        const auto d = static_cast<std::uint16_t>(current[i] - reference);
        out[kSampleBytes * i] = static_cast<std::uint8_t>(d);
        out[kSampleBytes * i + 1] = static_cast<std::uint8_t>(d >> 8);
    }
    std::fill(out + kSampleBytes * samples, out + StoredRowStride(width), std::uint8_t{0});
}

namespace {

// Writes the coded picture to the file `open` gives once the code is known
// (kInvalidFile: none could be had, and nothing is written). False on failure.
bool WriteCoded(std::uint32_t width, std::uint32_t height, const std::string& comment,
                const RowSource& row, const PayloadFields& fields, const RunBoth& runBoth,
                const std::function<platform::FileHandle()>& open) {
    const std::vector<std::uint8_t> preamble = PayloadPreamble(width, height, comment, fields);
    // Stored rows [0, split) are the first half, [split, height) the second.
    const std::uint32_t split = runBoth ? height / 2 : height;

    // Hands the coded rows [from, to) to `use`, in order; every row is
    // delta-coded against the one below it, fetched again for a half that
    // starts above the bottom.
    const auto forEachCodedRow = [&](std::uint32_t from, std::uint32_t to, const auto& use) {
        if (from >= to) return;
        const std::size_t rowSamples = std::size_t{kSamplesPerPixel} * width;
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

    std::array<std::uint64_t, kLeafCount> histogram{};
    std::array<std::uint64_t, kLeafCount> upper{};
    CountBytes(preamble.data(), preamble.size(), histogram);
    const auto count = [&](std::uint32_t from, std::uint32_t to,
                           std::array<std::uint64_t, kLeafCount>& h) {
        forEachCodedRow(from, to, [&](const std::vector<std::uint8_t>& bytes) {
            CountBytes(bytes.data(), bytes.size(), h);
        });
    };
    both([&] { count(0, split, histogram); }, [&] { count(split, height, upper); });
    for (std::size_t v = 0; v < histogram.size(); ++v) histogram[v] += upper[v];
    const CodeTree tree = BuildOptimalTree(histogram);
    const CodeTable codes(tree);

    BitWriter bits;
    BitWriter upperBits;
    if (split < height) {
        upperBits.Reserve(static_cast<std::size_t>(CodedBits(upper, codes) / 8 + 1));
    }

    const platform::FileHandle file = open();
    if (file == platform::kInvalidFile) return false;
    const std::vector<std::uint8_t> start = FileStart();
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
