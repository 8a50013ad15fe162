// Fuzz target over the readers of standard pictures that `tavrel pack` takes:
// the input is a whole PNG, PPM or PGM file. Reading must end in success or a
// clean failure, a success must describe a picture the packer accepts, and a
// small enough one must come back from an RQ6 file sample for sample.
#include <cstdio>

#include "engine/conversion_status.h"
#include "formats/full_picture.h"
#include "formats/png_io.h"
#include "formats/ppm_io.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Pictures up to this many pixels also go through an RQ6 file and back; the
// bound keeps each run short while covering every shape a seed can reach.
constexpr std::size_t kRoundTripPixels = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    FUZZ_CHECK(file != nullptr);
    full::Picture picture;
    const bool isPng = png_io::HasSignature(data, size);
    const full::Result result =
        isPng ? png_io::ReadPng(file, &picture) : ppm_io::ReadPnm(file, &picture);
    std::fclose(file);

    if (!result) {
        FUZZ_CHECK(result.status == kStatusFormatError || result.status == kStatusOutOfMemory);
        FUZZ_CHECK(!result.message.empty());
        return 0;
    }
    const std::size_t samples = full::SampleCount(picture.width, picture.height);
    FUZZ_CHECK(samples != 0);
    FUZZ_CHECK(picture.rgb.size() == samples);
    if (samples / 3 > kRoundTripPixels) return 0;

    const std::string path = fuzz::ScratchDir() + "/packed.rq6";
    FUZZ_CHECK(full::WriteRq6(path, picture, "fuzz"));
    full::Picture back;
    std::string warning;
    FUZZ_CHECK(full::ReadRq6(path, &back, &warning));
    FUZZ_CHECK(back.width == picture.width && back.height == picture.height);
    FUZZ_CHECK(back.rgb == picture.rgb);
    FUZZ_CHECK(back.comment == "fuzz");
    return 0;
}
