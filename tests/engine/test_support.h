// Shared helpers of the engine suites: pictures made in memory, written as
// RQ6 files by the project's writer, and files read back.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/wp_convert.h"
#include "tests/formats/rq6_test_encoder.h"

namespace test {

// A 48-bit picture, rows bottom first, samples blue, green, red.
struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint16_t> bgr;

    std::uint16_t At(std::uint32_t x, std::uint32_t y, int channel) const {
        return bgr[(static_cast<std::size_t>(y) * width + x) * 3 + channel];
    }
};

Picture UniformPicture(std::uint32_t width, std::uint32_t height, std::uint16_t b,
                       std::uint16_t g, std::uint16_t r);
Picture RandomPicture(std::uint32_t width, std::uint32_t height, std::mt19937& rng);

// Writes the picture as an RQ6 file with an optimal code.
void WritePicture(const std::string& path, const Picture& picture,
                  const std::string& comment = "test picture",
                  const rq6::PayloadFields& fields = {});

// An RQ6 file and where its parts end, worked out from the code itself
// rather than by reading the file: the container is 8 bytes, the tree takes
// the bits its serialization takes, and each payload byte ends where its
// code ends.
struct StreamLayout {
    std::vector<std::uint8_t> file;         // the file WritePicture writes
    std::uint64_t treeEnd = 0;              // bit offset just past the tree
    std::vector<std::uint64_t> payloadEnd;  // bit offset just past each payload byte's code
    std::uint32_t commentLength = 0;        // the stored comment region
    std::uint32_t inStride = 0;             // bytes of one stored row
};
StreamLayout LayoutOf(const Picture& picture, const std::string& comment);

enum class Region { kContainer, kTree, kHeaders, kComment, kRows };

// How far a reader given only the first `keep` bytes of the file gets: the
// region where it runs out, and in the rows the first incomplete row (the
// picture's height when every row is complete).
struct CutPoint {
    std::size_t keep = 0;
    Region region = Region::kContainer;
    std::uint32_t row = 0;
};
CutPoint Classify(const StreamLayout& layout, std::size_t keep);

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteRaw(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);

// A row output that keeps what it is given, for jobs that write no file.
struct MemoryRows final : RowOutput {
    std::uint32_t Start(std::uint32_t w, std::uint32_t h, std::uint32_t mode,
                        std::uint32_t rowStride) override;
    std::uint32_t WriteRow(const std::uint8_t* row) override;
    std::uint32_t Finish() override;

    std::uint32_t width = 0, height = 0, colorMode = 0, stride = 0;
    std::vector<std::uint8_t> rows;  // bottom row first, as given
    bool started = false, finished = false;
    // The row WriteRow fails with `failWith`; rows before it are kept.
    std::uint32_t failAtRow = UINT32_MAX;
    std::uint32_t failWith = kStatusWriteFailed;
};

struct JobResult {
    std::uint32_t status = 0;
    std::uint32_t linesDone = 0;
};

// Runs a whole conversion job as its callers do: Begin, the first row, then
// one row at a time until done or failed; of the part `source` of the picture.
JobResult Convert(const std::string& in, const std::string& out, double exponent,
                  std::uint32_t width, std::uint32_t height, std::uint32_t mode,
                  const SourceRect& source = {});

// The same job from the file's bytes in memory into a MemoryRows.
JobResult ConvertFromMemory(const std::vector<std::uint8_t>& file, MemoryRows* out,
                            double exponent, std::uint32_t width, std::uint32_t height,
                            std::uint32_t mode, const SourceRect& source = {});

// The bytes a whole conversion writes for these settings (what `tavrel
// convert` writes: the same engine calls), through a scratch file in the
// current directory.
std::vector<std::uint8_t> ConvertedBytes(const std::string& in, double exponent,
                                         std::uint32_t width, std::uint32_t height,
                                         std::uint32_t mode);

}  // namespace test
