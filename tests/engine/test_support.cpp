#include "tests/engine/test_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/wp_convert.h"
#include "gtest/gtest.h"

namespace test {

Picture UniformPicture(std::uint32_t width, std::uint32_t height, std::uint16_t b,
                       std::uint16_t g, std::uint16_t r) {
    Picture p{width, height, {}};
    for (std::uint32_t i = 0; i < width * height; ++i) {
        p.bgr.push_back(b);
        p.bgr.push_back(g);
        p.bgr.push_back(r);
    }
    return p;
}

Picture RandomPicture(std::uint32_t width, std::uint32_t height, std::mt19937& rng) {
    Picture p{width, height, {}};
    std::uniform_int_distribution<int> sample(0, 65535);
    p.bgr.resize(static_cast<std::size_t>(width) * height * 3);
    for (auto& s : p.bgr) s = static_cast<std::uint16_t>(sample(rng));
    return p;
}

void WritePicture(const std::string& path, const Picture& picture, const std::string& comment,
                  const rq6::PayloadFields& fields) {
    const auto payload = rq6::BuildPayload(picture.width, picture.height, picture.bgr, comment, fields);
    ASSERT_TRUE(rq6::WriteBytes(path.c_str(), rq6::EncodeRq6(payload)));
}

namespace {

void CodeLengths(const rq6::CodeTree& tree, int node, int depth, std::vector<int>& length) {
    if (node < 256) {
        if (length[node] < 0 || depth < length[node]) length[node] = depth;
        return;
    }
    CodeLengths(tree, tree.first[node - 256], depth + 1, length);
    CodeLengths(tree, tree.second[node - 256], depth + 1, length);
}

}  // namespace

StreamLayout LayoutOf(const Picture& picture, const std::string& comment) {
    StreamLayout l;
    const auto payload = rq6::BuildPayload(picture.width, picture.height, picture.bgr, comment);
    std::array<std::uint64_t, 256> histogram{};
    for (const auto b : payload) ++histogram[b];
    const rq6::CodeTree tree = rq6::BuildOptimalTree(histogram);
    l.file = rq6::EncodeRq6WithTree(payload, tree);
    rq6::BitWriter treeBits;
    rq6::SerializeTree(tree, treeBits);
    l.treeEnd = 8 * rq6::kStreamOffset + treeBits.BitCount();
    std::vector<int> length(256, -1);
    CodeLengths(tree, tree.root, 0, length);
    std::uint64_t at = l.treeEnd;
    for (const auto b : payload)
        l.payloadEnd.push_back(at += static_cast<std::uint64_t>(length[b]));
    l.commentLength = static_cast<std::uint32_t>(comment.size() + 1);  // with its terminator
    l.inStride = rq6::StoredRowStride(picture.width);
    return l;
}

CutPoint Classify(const StreamLayout& l, std::size_t keep) {
    CutPoint c{keep};
    const std::uint64_t bits = 8 * static_cast<std::uint64_t>(keep);
    if (keep < rq6::kStreamOffset) return c;
    c.region = Region::kTree;
    if (bits < l.treeEnd) return c;
    // The payload bytes whose codes end within the kept bits.
    const auto i = static_cast<std::size_t>(
        std::upper_bound(l.payloadEnd.begin(), l.payloadEnd.end(), bits) - l.payloadEnd.begin());
    if (i < bmp::kHeadersSize) {
        c.region = Region::kHeaders;
    } else if (i < bmp::kHeadersSize + l.commentLength) {
        c.region = Region::kComment;
    } else {
        c.region = Region::kRows;
        c.row = static_cast<std::uint32_t>((i - bmp::kHeadersSize - l.commentLength) / l.inStride);
    }
    return c;
}

// Paths are UTF-8, also in the Windows builds (whose narrow file names would
// be the ANSI code page's).
std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteRaw(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

JobResult Convert(const std::string& in, const std::string& out, double exponent,
                  std::uint32_t width, std::uint32_t height, std::uint32_t mode,
                  const SourceRect& source) {
    WPConvert job;
    job.source = source;
    std::uint32_t status = job.Begin(in.c_str(), out.c_str(), exponent, width, height, mode);
    if (status == 0) status = job.ConvertFirstLine();
    while (status == 0 && job.linesDone < job.height) status = job.ConvertNextLine();
    return {status, job.linesDone};
}

std::uint32_t MemoryRows::Start(std::uint32_t w, std::uint32_t h, std::uint32_t mode,
                                std::uint32_t rowStride) {
    EXPECT_FALSE(started) << "Start comes once";
    started = true;
    width = w;
    height = h;
    colorMode = mode;
    stride = rowStride;
    return kStatusOk;
}

std::uint32_t MemoryRows::WriteRow(const std::uint8_t* row) {
    EXPECT_TRUE(started && !finished) << "rows come between Start and Finish";
    if (rows.size() / stride == failAtRow) return failWith;
    rows.insert(rows.end(), row, row + stride);
    return kStatusOk;
}

std::uint32_t MemoryRows::Finish() {
    EXPECT_EQ(rows.size(), std::size_t{stride} * height) << "Finish comes after the last row";
    finished = true;
    return kStatusOk;
}

JobResult ConvertFromMemory(const std::vector<std::uint8_t>& file, MemoryRows* out,
                            double exponent, std::uint32_t width, std::uint32_t height,
                            std::uint32_t mode, const SourceRect& source) {
    MemorySource in(file.data(), file.size());
    WPConvert job;
    job.source = source;
    std::uint32_t status = job.Begin(in, *out, exponent, width, height, mode);
    if (status == 0) status = job.ConvertFirstLine();
    while (status == 0 && job.linesDone < job.height) status = job.ConvertNextLine();
    return {status, job.linesDone};
}

std::vector<std::uint8_t> ConvertedBytes(const std::string& in, double exponent,
                                         std::uint32_t width, std::uint32_t height,
                                         std::uint32_t mode) {
    EXPECT_EQ(Convert(in, "expected.bmp", exponent, width, height, mode).status, 0u) << in;
    auto bytes = ReadBytes("expected.bmp");
    std::remove("expected.bmp");
    return bytes;
}

}  // namespace test
