// Writes the seed corpus of the standard-picture fuzz target: small PNG files
// of every colour type and depth (plain and interlaced, with text chunks),
// binary PPM and PGM files of several maximum values, and cut copies.
//   picture_seed_corpus DIR   writes DIR/*.png and DIR/*.pnm (DIR is replaced)
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "tests/formats/format_checks.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

bool Put(const fs::path& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.u8string().c_str(), "wb");
    if (!f) return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

Bytes Pnm(const std::string& header, std::size_t sampleBytes, std::mt19937& rng) {
    Bytes file(header.begin(), header.end());
    for (std::size_t i = 0; i < sampleBytes; ++i)
        file.push_back(static_cast<std::uint8_t>(rng() % 100));
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: picture_seed_corpus DIR\n");
        return 2;
    }
    const fs::path dir = fs::u8path(argv[1]);
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    std::mt19937 rng(7);
    bool ok = true;
    int count = 0;
    const auto put = [&](const std::string& name, const Bytes& bytes) {
        ok = Put(dir / name, bytes) && ok;
        ++count;
    };

    const int kinds[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                            {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    for (const auto& k : kinds) {
        for (const bool interlaced : {false, true}) {
            pngtest::Image image = test::RandomImage(interlaced ? 9 : 7, 5, k[0], k[1], rng, 12);
            image.interlaced = interlaced;
            if (k[1] == 8)
                image.texts = {{"tEXt", "Comment", "seed"}, {"iTXt", "Comment", "\xe7\xa8\xae"}};
            const Bytes file = pngtest::Encode(image);
            const std::string name = "type" + std::to_string(k[0]) + "-depth" +
                                     std::to_string(k[1]) + (interlaced ? "-interlaced" : "");
            put(name + ".png", file);
            if (!interlaced && k[1] == 16)
                put(name + "-cut.png", Bytes(file.begin(), file.begin() + file.size() / 2));
        }
    }
    put("p6-8bit.pnm", Pnm("P6\n4 3\n255\n", 4 * 3 * 3, rng));
    put("p6-16bit.pnm", Pnm("P6\n3 2\n65535\n", 3 * 2 * 6, rng));
    put("p6-maxval1000.pnm", Pnm("P6 2 2 1000\n", 2 * 2 * 6, rng));
    put("p5-comments.pnm", Pnm("P5\n# grey\n5 # wide\n2\n99\n", 5 * 2, rng));
    put("p5-16bit.pnm", Pnm("P5\n2 2\n40000\n", 2 * 2 * 2, rng));
    put("p6-cut.pnm", Pnm("P6\n8 8\n255\n", 20, rng));
    if (!ok) {
        std::fprintf(stderr, "picture_seed_corpus: cannot write into %s\n", argv[1]);
        return 1;
    }
    std::printf("%d seeds in %s\n", count, argv[1]);
    return 0;
}
