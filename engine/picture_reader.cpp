#include "engine/picture_reader.h"

#include <cstring>
#include <new>

namespace {

// Rows are stored as little-endian samples whatever the host's byte order.
inline std::uint16_t LoadSample(const std::uint8_t* bytes, std::uint32_t i) {
    return static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kLittleEndianHost = true;
#else
constexpr bool kLittleEndianHost = false;
#endif

}  // namespace

std::uint32_t CheckPayloadHeaders(const std::uint8_t* fileHeader, const std::uint8_t* infoHeader) {
    if (bmp::Get16(fileHeader, bmp::kBfType) != rq6::kPayloadType ||
        bmp::Get16(infoHeader, bmp::kBiBitCount) != rq6::kPayloadBitsPerPixel ||
        bmp::Get32(infoHeader, bmp::kBiCompression) != rq6::kPayloadDeltaRows) {
        return kStatusFormatError;
    }
    const std::uint32_t offBits = bmp::Get32(fileHeader, bmp::kBfOffBits);
    const std::int64_t inWidth = bmp::GetSigned32(infoHeader, bmp::kBiWidth);
    const std::int64_t inHeight = bmp::GetSigned32(infoHeader, bmp::kBiHeight);
    if (offBits < bmp::kHeadersSize || offBits - bmp::kHeadersSize > limits::kMaxCommentLength ||
        inWidth < 1 || inHeight < 1 || inWidth > limits::kMaxSide ||
        inHeight > limits::kMaxSide || inWidth * inHeight > limits::kMaxInputPixels) {
        return kStatusFormatError;
    }
    return kStatusOk;
}

std::uint32_t ReadPictureHeaders(HuffmanCode& decoder, std::uint8_t* fileHeader,
                                 std::uint8_t* infoHeader, std::uint8_t* comment,
                                 std::uint32_t* commentLength) {
    decoder.Decode(fileHeader, bmp::kFileHeaderSize);
    decoder.Decode(infoHeader, bmp::kInfoHeaderSize);
    if (decoder.error) return kStatusReadFailed;

    const std::uint32_t offBits = bmp::Get32(fileHeader, bmp::kBfOffBits);
    if (offBits >= bmp::kHeadersSize && offBits - bmp::kHeadersSize <= limits::kMaxCommentLength) {
        *commentLength = offBits - bmp::kHeadersSize;
        const std::uint32_t kept =
            *commentLength < limits::kCommentSize ? *commentLength : limits::kCommentSize;
        decoder.Decode(comment, kept);
        std::uint8_t skipped[256];
        for (std::uint32_t left = *commentLength - kept; left > 0;) {
            const std::uint32_t n = left < sizeof skipped ? left : sizeof skipped;
            decoder.Decode(skipped, n);
            left -= n;
        }
        if (decoder.error) return kStatusReadFailed;
    }
    return CheckPayloadHeaders(fileHeader, infoHeader);
}

void UndoFirstRowDeltas(std::uint16_t* row, std::uint32_t width) {
    // Along the first row each sample is stored as the difference from the
    // same channel of the pixel to its left. Each sample's bytes are read
    // before its place is overwritten, so the work can be done in place.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(row);
    constexpr std::uint32_t kChannels = rq6::kSamplesPerPixel;
    std::uint16_t left[kChannels] = {0, 0, 0};
    for (std::uint32_t i = 0; i < kChannels * width; i += kChannels) {
        for (std::uint32_t c = 0; c < kChannels; ++c) {
            left[c] = static_cast<std::uint16_t>(left[c] + LoadSample(bytes, i + c));
            row[i + c] = left[c];
        }
    }
}

void AddRowDeltas(std::uint16_t* row, const std::uint16_t* delta, std::uint32_t samples) {
    // On a little-endian host the samples are read as they lie, which lets
    // the compiler vectorise the loop.
    if (kLittleEndianHost) {
        for (std::uint32_t i = 0; i < samples; ++i) {
            row[i] = static_cast<std::uint16_t>(row[i] + delta[i]);
        }
    } else {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(delta);
        for (std::uint32_t i = 0; i < samples; ++i) {
            row[i] = static_cast<std::uint16_t>(row[i] + LoadSample(bytes, i));
        }
    }
}

PictureReader::PictureReader() = default;
PictureReader::~PictureReader() = default;

std::uint32_t PictureReader::CommentTextLength() const {
    const std::uint32_t kept =
        commentLength < limits::kCommentSize ? commentLength : limits::kCommentSize;
    const void* end = std::memchr(comment, 0, kept);
    return end ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(end) - comment) : kept;
}

template <typename Make>
std::uint32_t PictureReader::OpenWith(Make make) {
    if (status != kStatusOk) return status;
    if (decoder) return Fail(kStatusUnexpected);
    try {
        decoder = make();
    } catch (const std::bad_alloc&) {
        return Fail(kStatusOutOfMemory);
    }
    if (!decoder->Opened()) return Fail(kStatusInputNotOpened);
    if (decoder->error) return Fail(kStatusFormatError);
    if (const auto s =
            ReadPictureHeaders(*decoder, fileHeader, infoHeader, comment, &commentLength)) {
        return Fail(s);
    }
    // Both buffers hold a stored row's bytes before they become samples; the
    // header test keeps the width, and so these sizes, small.
    const std::uint32_t words = rq6::StoredRowStride(Width()) / rq6::kSampleBytes;
    try {
        row.reset(new std::uint16_t[words]);
        delta.reset(new std::uint16_t[words]);
    } catch (const std::bad_alloc&) {
        return Fail(kStatusOutOfMemory);
    }
    return status;
}

std::uint32_t PictureReader::Open(const char* utf8Path) {
    return OpenWith([&] { return std::make_unique<HuffmanCode>(utf8Path, rq6::kMagic); });
}

std::uint32_t PictureReader::Open(ByteSource& source) {
    return OpenWith([&] { return std::make_unique<HuffmanCode>(source, rq6::kMagic); });
}

bool PictureReader::InputSize(std::uint64_t* bytes) const {
    return decoder && decoder->Source() && decoder->Source()->TotalSize(bytes);
}

bool PictureReader::InputCanHoldRows() const {
    std::uint64_t bytes = 0;
    if (!InputSize(&bytes)) return true;
    return 8 * bytes >= std::uint64_t{Height()} * rq6::StoredRowStride(Width());
}

std::uint32_t PictureReader::NextRow() {
    if (status != kStatusOk) return status;
    if (!row || rowsRead >= Height()) return Fail(kStatusUnexpected);
    const std::uint32_t stride = rq6::StoredRowStride(Width());
    if (rowsRead == 0) {
        decoder->Decode(reinterpret_cast<std::uint8_t*>(row.get()), stride);
        if (decoder->error) return Fail(kStatusReadFailed);
        UndoFirstRowDeltas(row.get(), Width());
    } else {
        decoder->Decode(reinterpret_cast<std::uint8_t*>(delta.get()), stride);
        if (decoder->error) return Fail(kStatusReadFailed);
        // Every later row is stored as the difference from the row before,
        // which `row` still holds.
        AddRowDeltas(row.get(), delta.get(), rq6::kSamplesPerPixel * Width());
    }
    ++rowsRead;
    return status;
}

std::uint32_t PictureReader::ReadRow(std::uint16_t* bgr) {
    if (NextRow() != kStatusOk) return status;
    std::memcpy(bgr, row.get(),
                rq6::kSamplesPerPixel * std::size_t{Width()} * sizeof(std::uint16_t));
    return status;
}
