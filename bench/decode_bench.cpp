// Reports how fast the Huffman decoder alone turns an RQ6 file's payload into
// bytes: construction (tree) plus Decode of the whole payload, in rows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/bitmap_headers.h"
#include "engine/huffman_code.h"
#include "engine/rq6_layout.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_bench FILE.rq6 [runs]\n");
        return 64;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<double> mbps;
    for (int run = 0; run < runs; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        HuffmanCode code(argv[1], rq6::kMagic);
        if (code.file == platform::kInvalidFile || code.error) {
            std::fprintf(stderr, "decode_bench: cannot read %s\n", argv[1]);
            return 1;
        }
        std::uint8_t headers[bmp::kHeadersSize];
        code.Decode(headers, bmp::kHeadersSize);
        const std::uint32_t comment = bmp::Get32(headers, bmp::kBfOffBits) - bmp::kHeadersSize;
        const std::uint32_t width = bmp::Get32(headers, bmp::kFileHeaderSize + bmp::kBiWidth);
        const std::uint32_t height = bmp::Get32(headers, bmp::kFileHeaderSize + bmp::kBiHeight);
        const std::uint32_t stride = rq6::StoredRowStride(width);
        std::vector<std::uint8_t> row(comment > stride ? comment : stride);
        code.Decode(row.data(), comment);
        for (std::uint32_t y = 0; y < height; ++y) code.Decode(row.data(), stride);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (code.error) {
            std::fprintf(stderr, "decode_bench: %s is damaged\n", argv[1]);
            return 1;
        }
        const double bytes = bmp::kHeadersSize + comment + double(stride) * height;
        mbps.push_back(bytes / seconds / 1e6);
    }
    std::sort(mbps.begin(), mbps.end());
    std::printf("%.0f\n", mbps[mbps.size() / 2]);
    return 0;
}
