// libpng reports errors by calling back and never returning; the callbacks
// here record the message and jump back to the setjmp of the function that
// drives libpng. Those functions create no C++ objects with destructors after
// the setjmp, and everything they own lives in a context object of the caller,
// whose destructor releases it whichever way libpng ended.
#include "tools/png_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "engine/bitmap_headers.h"
#include "engine/conversion_status.h"
#include "engine/limits.h"
#include "tools/messages.h"
#include "tools/text_codec.h"

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

struct WriteContext {
    ErrorSink sink;
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> row;
    bool failed = false;
    ~WriteContext() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
        if (file) std::fclose(file);
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
    picture->rgb.assign(full::SampleCount(width, height), 0);
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

bool IsAscii(const std::string& s) {
    for (unsigned char ch : s) {
        if (ch >= 0x80) return false;
    }
    return true;
}

bool OpenForWriting(WriteContext& c, const std::string& path) {
    c.file = std::fopen(path.c_str(), "wb");
    if (!c.file) return false;
    c.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &c.sink, OnError, OnWarning);
    if (c.png) c.info = png_create_info_struct(c.png);
    return c.png && c.info;
}

// Ends a written file: the data must have reached the disk's buffers and the
// file must close cleanly, or the write failed (a full disk shows up here).
full::Result FinishWriting(WriteContext& c, bool ok) {
    std::FILE* file = c.file;
    c.file = nullptr;
    const bool closed = std::fflush(file) == 0 && !std::ferror(file);
    const bool finished = std::fclose(file) == 0 && closed;
    // What libpng says of a failed write ("Write Error") tells no more than
    // the status does; the reason is found where the file is committed.
    if (!ok || !finished) return full::Failure(kStatusWriteFailed, "");
    return {};
}

bool WritePixels16(WriteContext& c, const full::Picture& picture) {
    if (setjmp(png_jmpbuf(c.png))) return false;
    png_init_io(c.png, c.file);
    png_set_IHDR(c.png, c.info, picture.width, picture.height, 16, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text text;
    std::memset(&text, 0, sizeof text);
    if (!picture.comment.empty()) {
        text.key = const_cast<char*>(kCommentKeyword);
        text.text = const_cast<char*>(picture.comment.c_str());
        if (IsAscii(picture.comment)) {
            text.compression = PNG_TEXT_COMPRESSION_NONE;
            text.text_length = picture.comment.size();
        } else {
            text.compression = PNG_ITXT_COMPRESSION_NONE;
            text.itxt_length = picture.comment.size();
        }
        png_set_text(c.png, c.info, &text, 1);
    }
    png_write_info(c.png, c.info);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    png_set_swap(c.png);
#endif
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const std::uint16_t* row = picture.rgb.data() + 3 * std::size_t{picture.width} * y;
        png_write_row(c.png, reinterpret_cast<png_const_bytep>(row));
    }
    png_write_end(c.png, c.info);
    return true;
}

struct BmpLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t stride = 0;
    std::uint32_t offBits = 0;
    std::vector<png_color> palette;
};

bool ReadBmpLayout(std::FILE* file, BmpLayout* layout) {
    std::uint8_t headers[bmp::kHeadersSize];
    if (std::fread(headers, 1, sizeof headers, file) != sizeof headers) return false;
    const std::uint8_t* fh = headers;
    const std::uint8_t* ih = headers + bmp::kFileHeaderSize;
    const std::int32_t width = bmp::GetSigned32(ih, bmp::kBiWidth);
    const std::int32_t height = bmp::GetSigned32(ih, bmp::kBiHeight);
    const std::uint32_t bitCount = bmp::Get16(ih, bmp::kBiBitCount);
    if (fh[0] != 'B' || fh[1] != 'M' || bmp::Get32(ih, bmp::kBiCompression) != 0 || width < 1 ||
        height < 1 || width > limits::kMaxSide || height > limits::kMaxSide ||
        (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 48)) {
        return false;
    }
    layout->width = static_cast<std::uint32_t>(width);
    layout->height = static_cast<std::uint32_t>(height);
    layout->bitCount = bitCount;
    layout->stride = ((layout->width * bitCount + 31) / 32) * 4;
    layout->offBits = bmp::Get32(fh, bmp::kBfOffBits);
    if (bitCount <= 8) {
        std::uint32_t colors = bmp::Get32(ih, bmp::kBiClrUsed);
        if (colors == 0 || colors > (1u << bitCount)) colors = 1u << bitCount;
        std::vector<std::uint8_t> quads(4 * colors);
        if (std::fread(quads.data(), 1, quads.size(), file) != quads.size()) return false;
        for (std::uint32_t i = 0; i < colors; ++i) {  // stored blue, green, red, unused
            layout->palette.push_back({quads[4 * i + 2], quads[4 * i + 1], quads[4 * i]});
        }
    }
    return layout->offBits >= bmp::kHeadersSize + 4 * layout->palette.size();
}

bool TranscodeRows(WriteContext& c, std::FILE* in, const BmpLayout& layout) {
    if (setjmp(png_jmpbuf(c.png))) return false;
    png_init_io(c.png, c.file);
    const bool indexed = layout.bitCount <= 8;
    const bool deep = layout.bitCount == 48;
    png_set_IHDR(c.png, c.info, layout.width, layout.height,
                 indexed ? layout.bitCount : deep ? 16 : 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_set_PLTE(c.png, c.info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    }
    png_write_info(c.png, c.info);
    if (!indexed) png_set_bgr(c.png);
    // The 48-bit bitmap's samples are little-endian; PNG's are big-endian.
    if (deep) png_set_swap(c.png);
    // Both formats pack pixels the same way within a row (the leftmost in the
    // highest bits of a byte); bitmap rows run bottom up.
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        const std::uint64_t at =
            layout.offBits + std::uint64_t{layout.stride} * (layout.height - 1 - y);
        if (fseeko(in, static_cast<off_t>(at), SEEK_SET) != 0 ||
            std::fread(c.row.data(), 1, layout.stride, in) != layout.stride) {
            std::snprintf(c.sink.message, sizeof c.sink.message, "%s",
                          msg::Tr("the bitmap ends early"));
            c.failed = true;
            return false;
        }
        png_write_row(c.png, c.row.data());
    }
    png_write_end(c.png, c.info);
    return true;
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
    const long start = std::ftell(file);
    if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return true;  // not seekable: trust libpng
    const std::uint64_t end = static_cast<std::uint64_t>(std::ftell(file));
    std::uint64_t at = static_cast<std::uint64_t>(start);
    std::uint64_t pictureBytes = 0;  // at least this much image data, once decompressed
    std::uint64_t imageDataBytes = 0;
    bool ok = true;
    while (ok) {
        std::uint8_t header[8 + 13];
        if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
            std::fread(header, 1, 8, file) != 8) {
            break;  // libpng reports the missing end
        }
        const std::uint64_t length = BigEndian32(header);
        const std::string type(reinterpret_cast<const char*>(header + 4), 4);
        if (at + 12 + length > end) {
            *problem = msg::Format(msg::Tr("the file ends inside a chunk (%s bytes claimed)"),
                                   std::to_string(length).c_str());
            ok = false;
        } else if (type == "IDAT") {
            imageDataBytes += length;
        } else if (length > kMaxChunkBytes) {
            *problem = msg::Format(msg::Tr("a chunk of %s bytes is too large"),
                                   std::to_string(length).c_str());
            ok = false;
        } else if (type == "IHDR" && length == 13 && std::fread(header + 8, 1, 13, file) == 13) {
            static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
            const int colorType = header[17];
            const std::uint64_t bits =
                std::uint64_t{header[16]} * (colorType < 7 ? kChannels[colorType] : 0);
            const std::uint64_t width = BigEndian32(header + 8);
            const std::uint64_t height = BigEndian32(header + 12);
            // Larger sides are refused by libpng itself, under the user limits.
            if (width <= limits::kMaxSide && height <= limits::kMaxSide) {
                pictureBytes = width * height * bits / 8;
            }
        } else if (type == "IEND") {
            break;
        }
        at += 12 + length;
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
            msg::Tr("the picture is larger than 32767 pixels a side or 128 megapixels"));
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

full::Result WritePng16(const std::string& path, const full::Picture& picture) {
    WriteContext c;
    if (!OpenForWriting(c, path)) return full::Failure(kStatusOutputNotCreated, "");
    return FinishWriting(c, WritePixels16(c, picture));
}

full::Result BmpToPng(const std::string& bmpPath, const std::string& pngPath) {
    std::FILE* in = std::fopen(bmpPath.c_str(), "rb");
    if (!in) return full::Failure(kStatusReadFailed, msg::Tr("cannot reopen the bitmap"));
    BmpLayout layout;
    if (!ReadBmpLayout(in, &layout)) {
        std::fclose(in);
        return full::Failure(kStatusUnexpected, msg::Tr("not a bitmap this tool writes"));
    }
    WriteContext c;
    if (!OpenForWriting(c, pngPath)) {
        std::fclose(in);
        return full::Failure(kStatusOutputNotCreated, "");
    }
    c.row.resize(layout.stride);
    const bool ok = TranscodeRows(c, in, layout);
    std::fclose(in);
    if (c.failed) {
        FinishWriting(c, false);
        return full::Failure(kStatusReadFailed, c.sink.message);
    }
    return FinishWriting(c, ok);
}

}  // namespace png_io
