#include "tests/formats/rq6_test_encoder.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <stdexcept>

#include "platform/file_io.h"

namespace rq6 {

namespace {

void RequireCodes(const std::vector<std::uint8_t>& payload, const CodeTable& codes) {
    for (const std::uint8_t b : payload) {
        if (codes.Length(b) < 0) {
            throw std::invalid_argument("payload byte has no leaf in the code tree");
        }
    }
}

}  // namespace

CodeTree ChainTree(int internalNodes) {
    if (internalNodes < 1) throw std::invalid_argument("a chain needs an internal node");
    CodeTree tree;
    tree.root = kFirstInternalNode;
    for (int i = 0; i < internalNodes; ++i) {
        tree.first.push_back(i % kLeafCount);
        tree.second.push_back(i + 1 < internalNodes ? kFirstInternalNode + i + 1
                                                    : internalNodes % kLeafCount);
    }
    return tree;
}

std::uint64_t PayloadBitCount(const std::vector<std::uint8_t>& payload, const CodeTree& tree) {
    const CodeTable codes(tree);
    RequireCodes(payload, codes);
    std::uint64_t bits = 0;
    for (const std::uint8_t b : payload) bits += static_cast<std::uint64_t>(codes.Length(b));
    return bits;
}

std::vector<std::uint8_t> BuildPayload(std::uint32_t width, std::uint32_t height,
                                       const std::vector<std::uint16_t>& bgrRowsBottomFirst,
                                       const std::string& comment, const PayloadFields& fields) {
    const std::size_t rowSamples = std::size_t{kSamplesPerPixel} * width;
    if (bgrRowsBottomFirst.size() < rowSamples * height) {
        throw std::invalid_argument("fewer samples than width x height pixels");
    }
    std::vector<std::uint8_t> payload = PayloadPreamble(width, height, comment, fields);
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
    std::array<std::uint64_t, kLeafCount> histogram{};
    for (const std::uint8_t b : payload) ++histogram[b];
    return EncodeRq6WithTree(payload, BuildOptimalTree(histogram), extra);
}

std::vector<std::uint8_t> EncodeRq6WithTree(const std::vector<std::uint8_t>& payload,
                                            const CodeTree& tree, std::uint32_t extra) {
    const CodeTable codes(tree);
    RequireCodes(payload, codes);

    BitWriter bits;
    SerializeTree(tree, bits);
    codes.PutAll(payload.data(), payload.size(), bits);

    std::vector<std::uint8_t> file(std::begin(kMagicBytes), std::end(kMagicBytes));
    for (std::uint32_t i = 0; i < kExtraSize; ++i) {
        file.push_back(static_cast<std::uint8_t>(extra >> (8 * i)));
    }
    const std::vector<std::uint8_t> stream = bits.Bytes();
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

bool WriteBytes(const char* utf8Path, const std::vector<std::uint8_t>& bytes) {
    const platform::FileHandle file = platform::CreateWrite(utf8Path);
    if (file == platform::kInvalidFile) return false;
    // In pieces the platform layer's 32-bit counts can hold.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    bool ok = true;
    for (std::size_t at = 0; ok && at < bytes.size(); at += kPiece) {
        const auto n = static_cast<std::uint32_t>(std::min(bytes.size() - at, kPiece));
        std::uint32_t written = 0;
        ok = platform::Write(file, bytes.data() + at, n, &written) && written == n;
    }
    platform::Close(file);
    if (!ok) platform::Remove(utf8Path);
    return ok;
}

}  // namespace rq6
