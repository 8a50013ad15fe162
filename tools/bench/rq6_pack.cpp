// Packs a 16-bit binary PPM (as ImageMagick writes with -depth 16) into an
// RQ6 file, so that benchmarks can use natural photographs.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/rq6_writer.h"

namespace {

bool ReadToken(std::FILE* f, std::string* token) {
    token->clear();
    int c = std::fgetc(f);
    while (c != EOF) {
        if (c == '#') {
            while (c != EOF && c != '\n') c = std::fgetc(f);
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!token->empty()) return true;
        } else {
            token->push_back(static_cast<char>(c));
        }
        c = std::fgetc(f);
    }
    return !token->empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: rq6_pack IN.ppm OUT.rq6 COMMENT\n");
        return 64;
    }
    std::FILE* f = std::fopen(argv[1], "rb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::string magic, w, h, maxval;
    if (!ReadToken(f, &magic) || magic != "P6" || !ReadToken(f, &w) || !ReadToken(f, &h) ||
        !ReadToken(f, &maxval) || maxval != "65535") {
        std::fprintf(stderr, "rq6_pack: %s is not a 16-bit binary PPM\n", argv[1]);
        return 1;
    }
    const std::uint32_t width = static_cast<std::uint32_t>(std::stoul(w));
    const std::uint32_t height = static_cast<std::uint32_t>(std::stoul(h));
    // PPM rows are red, green, blue, big-endian, top row first.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 6);
    if (std::fread(pixels.data(), 1, pixels.size(), f) != pixels.size()) {
        std::fprintf(stderr, "rq6_pack: %s is too short\n", argv[1]);
        return 1;
    }
    std::fclose(f);
    const bool ok = rq6::WriteRq6File(argv[2], width, height, argv[3], [&](std::uint32_t y, std::uint16_t* bgr) {
        const std::uint8_t* row = pixels.data() + static_cast<std::size_t>(height - 1 - y) * width * 6;
        for (std::uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const std::uint8_t* s = row + 6 * x + 2 * (2 - c);
                bgr[3 * x + c] = static_cast<std::uint16_t>(s[0] << 8 | s[1]);
            }
        }
    });
    if (!ok) {
        std::fprintf(stderr, "rq6_pack: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
