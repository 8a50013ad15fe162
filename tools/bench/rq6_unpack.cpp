// Writes the full-precision pixels of an RQ6 picture as a 16-bit binary PPM,
// so that general image tools can be measured on exactly the same picture.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/bitmap_headers.h"
#include "engine/huffman_code.h"
#include "engine/wp_convert.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rq6_unpack IN.rq6 OUT.ppm\n");
        return 64;
    }
    HuffmanCode code(argv[1], kRq6Magic);
    std::uint8_t fh[bmp::kFileHeaderSize], ih[bmp::kInfoHeaderSize];
    code.Decode(fh, sizeof fh);
    code.Decode(ih, sizeof ih);
    if (code.file == platform::kInvalidFile || code.error || CheckPayloadHeaders(fh, ih) != 0) {
        std::fprintf(stderr, "rq6_unpack: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::uint32_t width = bmp::Get32(ih, bmp::kBiWidth);
    const std::uint32_t height = bmp::Get32(ih, bmp::kBiHeight);
    const std::uint32_t stride = (6 * width + 3) & ~3u;
    std::vector<std::uint8_t> skip(bmp::Get32(fh, bmp::kBfOffBits) - bmp::kHeadersSize);
    code.Decode(skip.data(), static_cast<std::uint32_t>(skip.size()));
    // Rows are stored bottom first as differences; PPM wants the top row first.
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width) * height * 3);
    std::vector<std::uint8_t> bytes(stride);
    std::vector<std::uint16_t> row(3 * width, 0);
    for (std::uint32_t y = 0; y < height; ++y) {
        code.Decode(bytes.data(), stride);
        for (std::uint32_t i = 0; i < 3 * width; ++i) {
            const auto d = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
            const std::uint16_t base = y == 0 ? (i < 3 ? 0 : row[i - 3]) : row[i];
            row[i] = static_cast<std::uint16_t>(base + d);
        }
        std::copy(row.begin(), row.end(), pixels.begin() + static_cast<std::ptrdiff_t>(height - 1 - y) * 3 * width);
    }
    if (code.error) {
        std::fprintf(stderr, "rq6_unpack: %s is damaged\n", argv[1]);
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    std::fprintf(out, "P6\n%u %u\n65535\n", width, height);
    std::vector<std::uint8_t> line(6 * width);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint16_t* p = pixels.data() + static_cast<std::size_t>(y) * 3 * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {  // blue, green, red -> red, green, blue
                const std::uint16_t v = p[3 * x + (2 - c)];
                line[6 * x + 2 * c] = static_cast<std::uint8_t>(v >> 8);
                line[6 * x + 2 * c + 1] = static_cast<std::uint8_t>(v);
            }
        }
        std::fwrite(line.data(), 1, line.size(), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
