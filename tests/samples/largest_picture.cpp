// Writes the largest picture the converter accepts, for measuring what a
// conversion of it costs (scripts/measure_memory.sh):
//   largest_picture OUT.rq6 [WIDTH HEIGHT]     default 32767 x 4096
// The content is the evening landscape of the sample disc drawn at that size;
// the streaming writer holds only a few rows, so the writer itself stays small.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/rq6_writer.h"
#include "samples/sample_disc.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: largest_picture OUT.rq6 [WIDTH HEIGHT]\n");
        return 2;
    }
    const std::uint32_t width = argc == 4 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 32767;
    const std::uint32_t height = argc == 4 ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 4096;
    const auto row = [&](std::uint32_t y, std::uint16_t* bgr) { rq6::SampleRow(10, width, height, y, bgr); };
    if (!rq6::WriteRq6File(argv[1], width, height, rq6::SampleComment(10), row)) {
        std::fprintf(stderr, "largest_picture: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %u x %u\n", argv[1], width, height);
    return 0;
}
