// Writes the seed corpus of the fuzz targets, made with the project's RQ6
// writer: well-formed pictures of several shapes, one-leaf and 255-node code
// trees, and hand-damaged variants (cut files, impossible header fields).
//   seed_corpus DIR   writes DIR/rq6_reader/*.rq6 and DIR/conversion/*.job
// A conversion seed is the four job bytes (mode, width, height, contrast
// position; see conversion_fuzz.cpp) followed by the file.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "tests/formats/rq6_test_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

struct Shape {
    const char* name;
    std::uint32_t width, height;
    std::string comment;
    bool smooth;  // a gentle gradient (small differences) or random samples
};

std::vector<std::uint16_t> Samples(const Shape& s, std::mt19937& rng) {
    std::vector<std::uint16_t> bgr;
    for (std::uint32_t y = 0; y < s.height; ++y) {
        for (std::uint32_t x = 0; x < s.width; ++x) {
            for (std::uint32_t c = 0; c < 3; ++c) {
                bgr.push_back(s.smooth ? static_cast<std::uint16_t>(1000 * x + 700 * y + 9000 * c)
                                       : static_cast<std::uint16_t>(rng()));
            }
        }
    }
    return bgr;
}

class Writer {
public:
    explicit Writer(const fs::path& dir) : dir_(dir) {
        fs::create_directories(dir_ / "rq6_reader");
        fs::create_directories(dir_ / "conversion");
    }

    void Reader(const std::string& name, const Bytes& file) {
        Put(dir_ / "rq6_reader" / (name + ".rq6"), file);
    }

    void Job(const std::string& name, std::uint8_t mode, std::uint8_t w, std::uint8_t h,
             std::uint8_t contrast, const Bytes& file) {
        Bytes job{mode, w, h, contrast};
        job.insert(job.end(), file.begin(), file.end());
        Put(dir_ / "conversion" / (name + ".job"), job);
    }

    // Both targets: the file as it is, and one conversion of it at its own size.
    void Both(const std::string& name, const Bytes& file, std::uint32_t w, std::uint32_t h) {
        Reader(name, file);
        Job(name, 6, static_cast<std::uint8_t>(w - 1), static_cast<std::uint8_t>(h - 1), 128, file);
    }

    bool ok() const { return ok_; }
    int count() const { return count_; }

private:
    void Put(const fs::path& path, const Bytes& bytes) {
        std::FILE* f = std::fopen(path.u8string().c_str(), "wb");
        if (!f || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())) {
            ok_ = false;
        }
        if (f && std::fclose(f) != 0) ok_ = false;
        ++count_;
    }

    fs::path dir_;
    bool ok_ = true;
    int count_ = 0;
};

Bytes Cut(Bytes file, std::size_t keep) {
    file.resize(std::min(keep, file.size()));
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: seed_corpus DIR\n");
        return 2;
    }
    std::error_code ec;
    const fs::path dir = fs::u8path(argv[1]);
    fs::remove_all(dir, ec);
    Writer out(dir);
    std::mt19937 rng(2024);

    const std::vector<Shape> shapes = {
        {"1x1", 1, 1, "", false},
        {"2x2", 2, 2, "two", true},
        {"5x3-odd", 5, 3, "odd width", false},
        {"9x7-comment128", 9, 7, std::string(128, 'k'), false},
        {"16x16-long-comment", 16, 16, std::string(300, 'c'), true},
        {"33x5", 33, 5, "wide", false},
        {"4x31", 4, 31, "tall", true},
        {"40x30-smooth", 40, 30, "gradient", true},
    };
    // Job sizes and contrast positions the conversion seeds cycle through.
    const std::uint8_t sizes[][2] = {{0, 0}, {6, 4}, {31, 31}, {15, 2}, {2, 15}, {30, 16}, {8, 8}};
    const std::uint8_t contrasts[] = {0, 64, 128, 200, 255};

    Bytes oddFile;
    std::vector<std::uint8_t> oddPayload;
    int job = 0;
    for (const Shape& s : shapes) {
        rq6::PayloadFields fields;
        if (s.comment.size() == 128) fields.rawComment = s.comment;  // no terminator
        const auto payload = rq6::BuildPayload(s.width, s.height, Samples(s, rng), s.comment, fields);
        const Bytes file = rq6::EncodeRq6(payload, 0x01234567u * static_cast<std::uint32_t>(job + 1));
        out.Reader(s.name, file);
        // Every colour mode once per shape, at several sizes.
        for (std::uint8_t mode = 0; mode < 7; ++mode, ++job) {
            const auto& size = sizes[job % 7];
            const std::uint8_t w = size[0] == 0 ? static_cast<std::uint8_t>(s.width - 1) : size[0];
            const std::uint8_t h = size[1] == 0 ? static_cast<std::uint8_t>(s.height - 1) : size[1];
            out.Job(std::string(s.name) + "-mode" + std::to_string(mode), mode, w, h,
                    contrasts[job % 5], file);
        }
        if (s.width == 5) {
            oddFile = file;
            oddPayload = payload;
        }
    }

    // Code trees at the edges: 255 internal nodes (codes up to 255 bits) is
    // the most a file may have, 256 is one too many; a one-leaf tree decodes
    // every byte to its value without reading a bit.
    out.Both("deep-255-nodes", rq6::EncodeRq6WithTree(oddPayload, rq6::ChainTree(255)), 5, 3);
    out.Both("deep-256-nodes", rq6::EncodeRq6WithTree(oddPayload, rq6::ChainTree(256)), 5, 3);
    out.Both("deep-254-nodes", rq6::EncodeRq6WithTree(oddPayload, rq6::ChainTree(254)), 5, 3);
    for (int value : {0x00, 0x49, 0xFF}) {
        rq6::CodeTree leaf;
        leaf.root = value;
        out.Both("one-leaf-" + std::to_string(value), rq6::EncodeRq6WithTree({}, leaf), 5, 3);
    }

    // Cut files: in the container, in the tree, in the headers, the comment
    // and the rows, and short by one byte.
    for (std::size_t keep : {0, 3, 4, 8, 9, 20, 40, 60, 80, 100, 140}) {
        out.Both("cut-" + std::to_string(keep), Cut(oddFile, keep), 5, 3);
    }
    out.Both("cut-last-byte", Cut(oddFile, oddFile.size() - 1), 5, 3);
    Bytes magic = oddFile;
    magic[3] = '0';
    out.Both("magic-RQ60", magic, 5, 3);

    // Header fields no picture has.
    auto damaged = [&](const std::string& name, const rq6::PayloadFields& f) {
        std::mt19937 again(7);
        const Shape s{"", 5, 3, "damaged", false};
        out.Both(name, rq6::EncodeRq6(rq6::BuildPayload(5, 3, Samples(s, again), s.comment, f)), 5, 3);
    };
    for (std::int32_t v : {0, -1, 1, 32767, 32768, 65535, 65536, 2147483647}) {
        rq6::PayloadFields w;
        w.biWidth = v;
        damaged("width-" + std::to_string(v), w);
        rq6::PayloadFields h;
        h.biHeight = v;
        damaged("height-" + std::to_string(v), h);
    }
    rq6::PayloadFields f;
    f.bfType = 'B' | 'M' << 8;
    damaged("type-BM", f);
    f = {};
    f.biBitCount = 24;
    damaged("bitcount-24", f);
    f = {};
    f.biCompression = 0;
    damaged("compression-0", f);
    for (std::uint32_t off : {0u, 53u, 54u, 54u + 5000u, 54u + 65536u, 54u + 65537u, 0xFFFFFFFFu}) {
        f = {};
        f.bfOffBits = off;
        damaged("offbits-" + std::to_string(off), f);
    }

    // A few random bit flips of a well-formed file.
    for (int i = 0; i < 8; ++i) {
        Bytes flipped = oddFile;
        for (int k = 0; k < 1 + i % 3; ++k) {
            flipped[8 + rng() % (flipped.size() - 8)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        }
        out.Both("flipped-" + std::to_string(i), flipped, 5, 3);
    }

    if (!out.ok()) {
        std::fprintf(stderr, "seed_corpus: cannot write below %s\n", argv[1]);
        return 1;
    }
    std::printf("%d seed files in %s\n", out.count(), argv[1]);
    return 0;
}
