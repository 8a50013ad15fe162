#include "formats/ppm_io.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "engine/conversion_status.h"
#include "engine/limits.h"
#include "formats/translation.h"
#include "platform/file_io.h"

namespace ppm_io {

namespace {

// Reads the next header number, passing over white space and comments. The
// value is capped so that an absurd number cannot overflow.
bool ReadNumber(std::FILE* f, std::uint64_t* value) {
    int c = std::fgetc(f);
    for (;;) {
        if (c == '#') {
            while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(f);
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            c = std::fgetc(f);
        } else {
            break;
        }
    }
    if (c < '0' || c > '9') return false;
    std::uint64_t v = 0;
    while (c >= '0' && c <= '9') {
        if (v < (std::uint64_t{1} << 40)) v = 10 * v + static_cast<std::uint64_t>(c - '0');
        c = std::fgetc(f);
    }
    // Exactly one white-space byte separates the header from the samples.
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') return false;
    *value = v;
    return true;
}

}  // namespace

bool HasSignature(const std::uint8_t* head, std::size_t size) {
    return size >= 2 && head[0] == 'P' && (head[1] == '5' || head[1] == '6');
}

full::Result ReadPnm(const std::string& path, full::Picture* picture) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return full::Failure(kStatusInputNotOpened, msg::SystemReason(errno));
    const full::Result result = ReadPnm(file, picture);
    std::fclose(file);
    return result;
}

full::Result ReadPnm(std::FILE* f, full::Picture* picture) {
    std::uint8_t magic[2];
    if (std::fread(magic, 1, 2, f) != 2 || !HasSignature(magic, 2)) {
        return full::Failure(kStatusFormatError, msg::Tr("not a binary PPM or PGM file"));
    }
    const std::size_t channels = magic[1] == '6' ? 3 : 1;
    std::uint64_t width = 0, height = 0, maxval = 0;
    if (!ReadNumber(f, &width) || !ReadNumber(f, &height) || !ReadNumber(f, &maxval)) {
        return full::Failure(kStatusFormatError, msg::Tr("damaged header"));
    }
    if (maxval < 1 || maxval > 65535) {
        return full::Failure(kStatusFormatError, msg::Tr("the maximum value must be 1 to 65535"));
    }
    const std::size_t samples =
        full::SampleCount(static_cast<std::int64_t>(width), static_cast<std::int64_t>(height));
    if (samples == 0) {
        return full::Failure(
            kStatusFormatError,
            msg::Format(
                msg::Tr("the picture must be 1 to %d pixels a side and at most %d megapixels"),
                static_cast<int>(limits::kMaxSide), static_cast<int>(limits::kMaxInputMegapixels)));
    }
    const std::size_t bytesPerSample = maxval < 256 ? 1 : 2;
    const std::size_t perRow = static_cast<std::size_t>(width) * channels;
    // The samples must be there before memory is taken for them: a short file
    // claiming a large picture fails here, not after a large allocation.
    const long start = std::ftell(f);
    if (start >= 0 && std::fseek(f, 0, SEEK_END) == 0) {
        const long end = std::ftell(f);
        if (end - start < static_cast<long>(perRow * height * bytesPerSample)) {
            return full::Failure(
                kStatusFormatError,
                msg::Format(msg::Tr("the file is too short for a %s x %s picture"),
                            std::to_string(width).c_str(), std::to_string(height).c_str()));
        }
        std::fseek(f, start, SEEK_SET);
    }
    try {
        full::AllocateSamples(picture, samples);
    } catch (const std::bad_alloc&) {
        return full::Failure(kStatusOutOfMemory, msg::Tr("not enough memory for the picture"));
    }
    picture->width = static_cast<std::uint32_t>(width);
    picture->height = static_cast<std::uint32_t>(height);
    picture->comment.clear();

    std::vector<std::uint8_t> row(perRow * bytesPerSample);
    const std::uint32_t m = static_cast<std::uint32_t>(maxval);
    for (std::uint64_t y = 0; y < height; ++y) {
        if (std::fread(row.data(), 1, row.size(), f) != row.size()) {
            return full::Failure(kStatusFormatError, msg::Tr("the file ends before its last row"));
        }
        std::uint16_t* out = picture->rgb.data() + 3 * static_cast<std::size_t>(width) * y;
        for (std::size_t i = 0; i < perRow; ++i) {
            const std::uint32_t v =
                bytesPerSample == 1 ? row[i] : (std::uint32_t{row[2 * i]} << 8 | row[2 * i + 1]);
            if (v > m)
                return full::Failure(kStatusFormatError,
                                     msg::Tr("a sample exceeds the maximum value"));
            const auto scaled = static_cast<std::uint16_t>((v * 65535u + m / 2) / m);
            if (channels == 3) {
                out[i] = scaled;
            } else {
                out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = scaled;
            }
        }
    }
    return {};
}

full::Result WritePpm16(platform::FileHandle file, const full::Picture& picture) {
    // Only the count written tells success; the system's reason is kept when
    // the call itself failed.
    const auto write = [file](const void* data, std::size_t size) {
        std::uint32_t written = 0;
        const bool called = platform::Write(file, data, static_cast<std::uint32_t>(size), &written);
        if (written == size) return full::Result{};
        const int error = called ? 0 : platform::LastError();
        return full::Failure(kStatusWriteFailed, error != 0 ? msg::SystemReason(error) : "");
    };
    const std::string header =
        "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n65535\n";
    full::Result result = write(header.data(), header.size());
    std::vector<std::uint8_t> row(6 * static_cast<std::size_t>(picture.width));
    for (std::uint32_t y = 0; result && y < picture.height; ++y) {
        const std::uint16_t* in =
            picture.rgb.data() + 3 * static_cast<std::size_t>(picture.width) * y;
        for (std::size_t i = 0; i < 3 * static_cast<std::size_t>(picture.width); ++i) {
            row[2 * i] = static_cast<std::uint8_t>(in[i] >> 8);  // big-endian samples
            row[2 * i + 1] = static_cast<std::uint8_t>(in[i]);
        }
        result = write(row.data(), row.size());
    }
    return result;
}

full::Result WritePpm16(const std::string& path, const full::Picture& picture) {
    const platform::FileHandle file = platform::CreateWrite(path.c_str());
    if (file == platform::kInvalidFile) {
        const int error = platform::LastError();
        return full::Failure(kStatusOutputNotCreated, error != 0 ? msg::SystemReason(error) : "");
    }
    const full::Result result = WritePpm16(file, picture);
    platform::Close(file);
    return result;
}

}  // namespace ppm_io
