// PNG files are read with libpng and written by the tool's own encoder
// (png_writer.cpp), which compresses with libdeflate on several threads.
//
// libpng reports errors by calling back and never returning; the callbacks
// here record the message and jump back to the setjmp of the function that
// drives libpng. Those functions create no C++ objects with destructors after
// the setjmp, and everything they own lives in a context object of the caller,
// whose destructor releases it whichever way libpng ended.
#include "formats/png_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "engine/conversion_status.h"
#include "engine/limits.h"
#include "formats/png_writer.h"
#include "formats/text_codec.h"
#include "formats/translation.h"

namespace png_io {

namespace {

constexpr const char* kCommentKeyword = "Comment";

constexpr const char* kNoMemory = msg::TrLater("not enough memory for the picture");

std::string DamagedPng(const std::string& problem) {
    return msg::Format(msg::Tr("damaged PNG: %s"), problem.c_str());
}

// Largest chunk other than image data the reader accepts. Text, colour
// profiles and camera data stay far below it. (Image data is streamed, never
// held whole.)
constexpr std::uint64_t kMaxChunkBytes = std::uint64_t{16} << 20;

struct ErrorSink {
    char message[256] = {};
};

void OnError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings (an unknown ancillary chunk, a bad checksum on one) do not stop
// the pixels from being read; they are not worth a message.
void OnWarning(png_structp, png_const_charp) {}

struct ReadContext {
    ErrorSink sink;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;
    ~ReadContext() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// The pixel part of reading; returns false after a libpng error, with the
// message in the sink. An allocation failure in here escapes as bad_alloc.
bool ReadPixels(ReadContext& c, std::FILE* file, full::Picture* picture, bool* tooLarge) {
    if (setjmp(png_jmpbuf(c.png))) return false;
    png_init_io(c.png, file);
    // Sides beyond the picture limit are refused as soon as the header is seen.
    png_set_user_limits(c.png, static_cast<png_uint_32>(limits::kMaxSide),
                        static_cast<png_uint_32>(limits::kMaxSide));
    png_read_info(c.png, c.info);
    const png_uint_32 width = png_get_image_width(c.png, c.info);
    const png_uint_32 height = png_get_image_height(c.png, c.info);
    if (full::SampleCount(width, height) == 0) {
        *tooLarge = true;
        return false;
    }
    const int colorType = png_get_color_type(c.png, c.info);
    const int bitDepth = png_get_bit_depth(c.png, c.info);
    const bool indexed = colorType == PNG_COLOR_TYPE_PALETTE;
    png_colorp palette = nullptr;
    int colors = 0;
    if (indexed) {
        // Indices are looked up here rather than by libpng, so that an index
        // beyond the palette is found (it is damage, not a colour). One byte
        // per index, in the first bytes of each picture row.
        png_get_PLTE(c.png, c.info, &palette, &colors);
        png_set_packing(c.png);
    } else {
        if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(c.png);
        if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(c.png);
        png_set_strip_alpha(c.png);
        if (bitDepth < 16) png_set_expand_16(c.png);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        png_set_swap(c.png);  // samples in the host's order, straight into the picture
#endif
    }
    png_set_interlace_handling(c.png);
    png_read_update_info(c.png, c.info);
    const std::size_t rowBytes = indexed ? width : 6 * static_cast<std::size_t>(width);
    if (png_get_channels(c.png, c.info) != (indexed ? 1 : 3) ||
        png_get_bit_depth(c.png, c.info) != (indexed ? 8 : 16) ||
        png_get_rowbytes(c.png, c.info) != rowBytes) {
        std::snprintf(c.sink.message, sizeof c.sink.message, "%s",
                      msg::Tr("unexpected pixel layout"));
        return false;
    }
    picture->width = width;
    picture->height = height;
    full::AllocateSamples(picture, full::SampleCount(width, height));
    c.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) {
        c.rows[y] = reinterpret_cast<png_bytep>(picture->rgb.data() + 3 * std::size_t{width} * y);
    }
    png_read_image(c.png, c.rows.data());
    if (indexed) {
        for (png_uint_32 y = 0; y < height; ++y) {
            // From the right, so that no index is overwritten before it is
            // read: pixel x's samples start at byte 6x, at or beyond x.
            std::uint16_t* rgb = picture->rgb.data() + 3 * std::size_t{width} * y;
            const png_bytep index = c.rows[y];
            for (png_uint_32 x = width; x-- > 0;) {
                const int i = index[x];
                if (i >= colors) {
                    std::snprintf(c.sink.message, sizeof c.sink.message, "%s",
                                  msg::Tr("a pixel uses a colour the palette lacks"));
                    return false;
                }
                rgb[3 * x] = static_cast<std::uint16_t>(257 * palette[i].red);
                rgb[3 * x + 1] = static_cast<std::uint16_t>(257 * palette[i].green);
                rgb[3 * x + 2] = static_cast<std::uint16_t>(257 * palette[i].blue);
            }
        }
    }
    // Text chunks may also follow the pixels.
    png_read_end(c.png, c.info);
    return true;
}

// The "Comment" text of the file in UTF-8 (Latin-1 chunks converted).
std::string CommentOf(png_structp png, png_infop info) {
    png_textp texts = nullptr;
    int count = 0;
    png_get_text(png, info, &texts, &count);
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(texts[i].key, kCommentKeyword) != 0) continue;
        const std::size_t length = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE
                                       ? texts[i].itxt_length
                                       : texts[i].text_length;
        const std::string raw(texts[i].text ? texts[i].text : "", texts[i].text ? length : 0);
        if (texts[i].compression >= PNG_ITXT_COMPRESSION_NONE) return raw;
        // Plain and compressed text chunks are Latin-1, which always converts.
        std::string utf8;
        text::Latin1ToUtf8(raw, &utf8);
        return utf8;
    }
    return {};
}

// Deflate turns one byte into at most 1032: a longest match of 258 bytes costs
// at least two bits.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

std::uint64_t BigEndian32(const std::uint8_t* p) {
    return std::uint64_t{p[0]} << 24 | std::uint64_t{p[1]} << 16 | std::uint64_t{p[2]} << 8 | p[3];
}

// The chunk list is walked before libpng reads the file, for two reasons.
// libpng allocates a chunk's claimed length before reading it and only warns
// when the length is absurd, so a 40-byte file claiming a 2 GB text chunk
// would cost 2 GB: every chunk must lie within the file, and only image data
// may be large. And the pixel memory is taken once the header is read: the
// image data must be able to hold the picture the header describes, or a
// small file could claim hundreds of megabytes. Leaves the file where it was.
bool CheckChunks(std::FILE* file, std::string* problem) {
    // A chunk is its data's length and its type (4 bytes each), the data and
    // a 4-byte checksum. The header chunk's 13 bytes of data are the width and
    // the height (4 bytes each), the bit depth, the colour type and three
    // bytes this check does not need.
    constexpr std::size_t kChunkHead = 8;
    constexpr std::uint64_t kChunkFrame = kChunkHead + 4;
    constexpr std::size_t kHeaderData = 13;
    constexpr std::size_t kWidthAt = kChunkHead, kHeightAt = kChunkHead + 4;
    constexpr std::size_t kBitDepthAt = kChunkHead + 8, kColorTypeAt = kChunkHead + 9;
    // Samples a pixel has in each colour type: grey, -, RGB, palette index,
    // grey and alpha, -, RGBA; 0 for the types that do not exist.
    static const std::uint64_t kChannels[] = {1, 0, 3, 1, 2, 0, 4};
    const long start = std::ftell(file);
    if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return true;  // not seekable: trust libpng
    const std::uint64_t end = static_cast<std::uint64_t>(std::ftell(file));
    std::uint64_t at = static_cast<std::uint64_t>(start);
    std::uint64_t pictureBytes = 0;  // at least this much image data, once decompressed
    std::uint64_t imageDataBytes = 0;
    bool ok = true;
    while (ok) {
        std::uint8_t header[kChunkHead + kHeaderData];
        if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
            std::fread(header, 1, kChunkHead, file) != kChunkHead) {
            break;  // libpng reports the missing end
        }
        const std::uint64_t length = BigEndian32(header);
        const std::string type(reinterpret_cast<const char*>(header + 4), 4);
        if (at + kChunkFrame + length > end) {
            *problem = msg::Format(msg::Tr("the file ends inside a chunk (%s bytes claimed)"),
                                   std::to_string(length).c_str());
            ok = false;
        } else if (type == "IDAT") {
            imageDataBytes += length;
        } else if (length > kMaxChunkBytes) {
            *problem = msg::Format(msg::Tr("a chunk of %s bytes is too large"),
                                   std::to_string(length).c_str());
            ok = false;
        } else if (type == "IHDR" && length == kHeaderData &&
                   std::fread(header + kChunkHead, 1, kHeaderData, file) == kHeaderData) {
            const std::size_t colorType = header[kColorTypeAt];
            const std::uint64_t bits = std::uint64_t{header[kBitDepthAt]} *
                                       (colorType < std::size(kChannels) ? kChannels[colorType] : 0);
            const std::uint64_t width = BigEndian32(header + kWidthAt);
            const std::uint64_t height = BigEndian32(header + kHeightAt);
            // Larger sides are refused by libpng itself, under the user limits.
            if (width <= limits::kMaxSide && height <= limits::kMaxSide) {
                pictureBytes = width * height * bits / 8;
            }
        } else if (type == "IEND") {
            break;
        }
        at += kChunkFrame + length;
    }
    if (ok && imageDataBytes * kMaxDeflateRatio + kMaxDeflateRatio < pictureBytes) {
        *problem = msg::Tr("the image data is far too short for the picture's size");
        ok = false;
    }
    std::fseek(file, start, SEEK_SET);
    return ok;
}

}  // namespace

bool HasSignature(const std::uint8_t* head, std::size_t size) {
    return size >= 8 && png_sig_cmp(head, 0, 8) == 0;
}

full::Result ReadPng(std::FILE* file, full::Picture* picture) {
    ReadContext c;
    std::uint8_t head[8];
    if (std::fread(head, 1, sizeof head, file) != sizeof head || !HasSignature(head, 8)) {
        return full::Failure(kStatusFormatError, msg::Tr("not a PNG file"));
    }
    std::string problem;
    if (!CheckChunks(file, &problem)) return full::Failure(kStatusFormatError, DamagedPng(problem));
    c.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &c.sink, OnError, OnWarning);
    if (c.png) c.info = png_create_info_struct(c.png);
    if (!c.png || !c.info) return full::Failure(kStatusOutOfMemory, msg::Tr(kNoMemory));
    png_set_sig_bytes(c.png, 8);
    bool tooLarge = false;
    bool ok = false;
    try {
        ok = ReadPixels(c, file, picture, &tooLarge);
    } catch (const std::bad_alloc&) {
        return full::Failure(kStatusOutOfMemory, msg::Tr(kNoMemory));
    }
    if (tooLarge) {
        return full::Failure(
            kStatusFormatError,
            msg::Format(msg::Tr("the picture is larger than %d pixels a side or %d megapixels"),
                        static_cast<int>(limits::kMaxSide),
                        static_cast<int>(limits::kMaxInputMegapixels)));
    }
    if (!ok) return full::Failure(kStatusFormatError, DamagedPng(c.sink.message));
    picture->comment = CommentOf(c.png, c.info);
    return {};
}

full::Result ReadPng(const std::string& path, full::Picture* picture) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return full::Failure(kStatusInputNotOpened, msg::SystemReason(errno));
    const full::Result result = ReadPng(file, picture);
    std::fclose(file);
    return result;
}

namespace {

png_write::Layout Layout16(const full::Picture& picture) {
    png_write::Layout layout;
    layout.width = picture.width;
    layout.height = picture.height;
    layout.bitDepth = 16;
    layout.colorType = png_write::kColorTypeRgb;
    layout.comment = picture.comment;
    return layout;
}

png_write::RowSource Rows16(const full::Picture& picture) {
    const std::size_t samples = 3 * std::size_t{picture.width};
    return [&picture, samples](std::uint32_t y, std::uint8_t* row) {
        const std::uint16_t* in = picture.rgb.data() + samples * y;
        for (std::size_t i = 0; i < samples; ++i) {  // PNG samples are big-endian
            row[2 * i] = static_cast<std::uint8_t>(in[i] >> 8);
            row[2 * i + 1] = static_cast<std::uint8_t>(in[i]);
        }
        return true;
    };
}

}  // namespace

full::Result WritePng16(const std::string& path, const full::Picture& picture) {
    return WritePng16(path, picture, {});
}

full::Result WritePng16(platform::FileHandle file, const full::Picture& picture) {
    return png_write::Write(file, Layout16(picture), Rows16(picture));
}

full::Result WritePng16(const std::string& path, const full::Picture& picture,
                        const png_write::Options& options) {
    return png_write::Write(path, Layout16(picture), Rows16(picture), options);
}

}  // namespace png_io
