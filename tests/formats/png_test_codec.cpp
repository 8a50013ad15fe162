#include "tests/formats/png_test_codec.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace pngtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// Small enough that ordinary test pictures need several IDAT chunks.
constexpr std::size_t kMaxIdatPiece = 8192;

// A damaged IHDR must not make the reader allocate without bound; real test
// pictures are far below this.
constexpr std::uint64_t kMaxRawBytes = std::uint64_t{1} << 31;

// Decompressed text larger than this is treated as a hostile stream.
constexpr std::uint64_t kMaxTextBytes = std::uint64_t{1} << 26;

struct Pass {
    std::uint32_t x0, y0, dx, dy;
};

constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr Pass kWholeImage = {0, 0, 1, 1};

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

void PutU32(Bytes* out, std::uint32_t value) {
    out->push_back(static_cast<std::uint8_t>(value >> 24));
    out->push_back(static_cast<std::uint8_t>(value >> 16));
    out->push_back(static_cast<std::uint8_t>(value >> 8));
    out->push_back(static_cast<std::uint8_t>(value));
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

bool DepthAllowed(int colorType, int bitDepth) {
    switch (colorType) {
        case 0:
            return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 ||
                   bitDepth == 16;
        case 3:
            return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
        case 2:
        case 4:
        case 6:
            return bitDepth == 8 || bitDepth == 16;
        default:
            return false;
    }
}

std::uint64_t RowBytes(std::uint64_t width, int channels, int bitDepth) {
    const std::uint64_t bits = width * static_cast<std::uint64_t>(channels * bitDepth);
    return (bits + 7) / 8;
}

// Distance between a byte and the corresponding byte of the pixel to its left.
std::size_t FilterStride(int channels, int bitDepth) {
    return static_cast<std::size_t>(std::max(1, channels * bitDepth / 8));
}

std::uint32_t PassSize(std::uint32_t full, std::uint32_t start, std::uint32_t step) {
    return full > start ? (full - start + step - 1) / step : 0;
}

int PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
}

// The value filter `type` predicts for row[i], from bytes already known.
// `prev` is null for the first row of a pass, which behaves as a row of zeros.
int Predict(int type, const std::uint8_t* row, const std::uint8_t* prev, std::size_t i,
            std::size_t stride) {
    const int left = i >= stride ? row[i - stride] : 0;
    const int up = prev != nullptr ? prev[i] : 0;
    const int upLeft = prev != nullptr && i >= stride ? prev[i - stride] : 0;
    switch (type) {
        case 1:
            return left;
        case 2:
            return up;
        case 3:
            return (left + up) / 2;
        case 4:
            return PaethPredictor(left, up, upLeft);
        default:
            return 0;
    }
}

// Writes the filter byte and the filtered `row` to `out`.
void FilterRow(int type, std::size_t stride, const Bytes& row, const std::uint8_t* prev,
               Bytes* out) {
    out->push_back(static_cast<std::uint8_t>(type));
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int predicted = Predict(type, row.data(), prev, i, stride);
        out->push_back(static_cast<std::uint8_t>((row[i] - predicted) & 0xFF));
    }
}

// Undoes filter `type` in place; the bytes left of i are already unfiltered.
void UnfilterRow(int type, std::size_t stride, std::uint8_t* row, std::size_t length,
                 const std::uint8_t* prev) {
    for (std::size_t i = 0; i < length; ++i) {
        const int predicted = Predict(type, row, prev, i, stride);
        row[i] = static_cast<std::uint8_t>((row[i] + predicted) & 0xFF);
    }
}

// Packs samples most significant bits first (16-bit ones big-endian) and pads
// the row to a whole byte with zero bits.
void PackRow(const std::vector<std::uint16_t>& samples, int bitDepth, Bytes* out) {
    out->clear();
    if (bitDepth == 16) {
        for (const std::uint16_t s : samples) {
            out->push_back(static_cast<std::uint8_t>(s >> 8));
            out->push_back(static_cast<std::uint8_t>(s & 0xFF));
        }
        return;
    }
    if (bitDepth == 8) {
        for (const std::uint16_t s : samples) out->push_back(static_cast<std::uint8_t>(s));
        return;
    }
    int used = 8;
    for (const std::uint16_t s : samples) {
        if (used == 8) {
            out->push_back(0);
            used = 0;
        }
        used += bitDepth;
        out->back() = static_cast<std::uint8_t>(out->back() | s << (8 - used));
    }
}

void UnpackRow(const std::uint8_t* bytes, std::size_t count, int bitDepth, std::uint16_t* out) {
    if (bitDepth == 16) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
        }
        return;
    }
    const int perByte = 8 / bitDepth;
    const int mask = (1 << bitDepth) - 1;
    for (std::size_t i = 0; i < count; ++i) {
        const int shift = 8 - bitDepth * (static_cast<int>(i % perByte) + 1);
        out[i] = static_cast<std::uint16_t>(bytes[i / perByte] >> shift & mask);
    }
}

Bytes Compress(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    Bytes out(size);
    const int rc = compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()),
                             static_cast<uLong>(text.size()), Z_BEST_COMPRESSION);
    if (rc != Z_OK) throw std::runtime_error("zlib compress2 failed");
    out.resize(size);
    return out;
}

Bytes Compress(const Bytes& data) { return Compress(std::string(data.begin(), data.end())); }

// Inflates one complete zlib stream that must fill `data` exactly and produce
// at most `limit` bytes.
bool Inflate(const std::uint8_t* data, std::size_t size, std::uint64_t limit, Bytes* out,
             std::string* error, const std::string& what) {
    out->clear();
    if (size > 0xFFFFFFFFu) return Fail(error, what + ": compressed data too large");
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return Fail(error, what + ": inflateInit failed");
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    std::uint8_t buffer[65536];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        stream.next_out = buffer;
        stream.avail_out = sizeof(buffer);
        rc = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = sizeof(buffer) - stream.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && stream.avail_in == 0)) {
            const std::string message = stream.msg != nullptr ? stream.msg : "inflate error";
            inflateEnd(&stream);
            return Fail(error, what + ": corrupt zlib data (" + message + ")");
        }
        if (out->size() + produced > limit) {
            inflateEnd(&stream);
            return Fail(error,
                        what + ": decompresses to more than " + std::to_string(limit) + " bytes");
        }
        out->insert(out->end(), buffer, buffer + produced);
        if (rc != Z_STREAM_END && stream.avail_in == 0 && produced == 0) {
            inflateEnd(&stream);
            return Fail(error, what + ": zlib stream is truncated");
        }
    }
    const bool leftover = stream.avail_in != 0;
    inflateEnd(&stream);
    if (leftover) return Fail(error, what + ": data after the end of the zlib stream");
    return true;
}

bool KeywordValid(const std::string& keyword) {
    if (keyword.empty() || keyword.size() > 79) return false;
    if (keyword.front() == ' ' || keyword.back() == ' ') return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        const auto c = static_cast<unsigned char>(keyword[i]);
        if (!((c >= 32 && c <= 126) || c >= 161)) return false;
        if (c == ' ' && i > 0 && keyword[i - 1] == ' ') return false;
    }
    return true;
}

bool Utf8Valid(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        int extra = 0;
        std::uint32_t code = 0;
        std::uint32_t minimum = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= static_cast<std::size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            code = code << 6 | (cc & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// Splits `data` at the first zero byte at or after `from`; false if none.
bool TakeUntilZero(const std::uint8_t* data, std::size_t size, std::size_t* from,
                   std::string* field) {
    const std::uint8_t* end = std::find(data + *from, data + size, std::uint8_t{0});
    if (end == data + size) return false;
    field->assign(data + *from, end);
    *from = static_cast<std::size_t>(end - data) + 1;
    return true;
}

bool ParseText(const std::string& type, const std::uint8_t* data, std::size_t size,
               TextChunk* chunk, std::string* error) {
    chunk->type = type;
    std::size_t pos = 0;
    if (!TakeUntilZero(data, size, &pos, &chunk->keyword)) {
        return Fail(error, type + ": keyword is not terminated");
    }
    if (!KeywordValid(chunk->keyword)) return Fail(error, type + ": invalid keyword");
    if (type == "tEXt") {
        chunk->text.assign(data + pos, data + size);
        if (chunk->text.find('\0') != std::string::npos) {
            return Fail(error, "tEXt: text contains a zero byte");
        }
        return true;
    }
    if (type == "zTXt") {
        if (pos >= size) return Fail(error, "zTXt: compression method missing");
        if (data[pos] != 0) return Fail(error, "zTXt: unknown compression method");
        ++pos;
        Bytes text;
        if (!Inflate(data + pos, size - pos, kMaxTextBytes, &text, error, "zTXt")) return false;
        chunk->text.assign(text.begin(), text.end());
        return true;
    }
    // iTXt
    if (size - pos < 2) return Fail(error, "iTXt: compression fields missing");
    const std::uint8_t flag = data[pos];
    const std::uint8_t method = data[pos + 1];
    pos += 2;
    if (flag > 1) return Fail(error, "iTXt: invalid compression flag");
    if (flag == 1 && method != 0) return Fail(error, "iTXt: unknown compression method");
    std::string language;
    std::string translated;
    if (!TakeUntilZero(data, size, &pos, &language)) {
        return Fail(error, "iTXt: language tag is not terminated");
    }
    if (!TakeUntilZero(data, size, &pos, &translated)) {
        return Fail(error, "iTXt: translated keyword is not terminated");
    }
    if (!Utf8Valid(translated)) return Fail(error, "iTXt: translated keyword is not UTF-8");
    if (flag == 1) {
        Bytes text;
        if (!Inflate(data + pos, size - pos, kMaxTextBytes, &text, error, "iTXt")) return false;
        chunk->text.assign(text.begin(), text.end());
    } else {
        chunk->text.assign(data + pos, data + size);
    }
    if (!Utf8Valid(chunk->text)) return Fail(error, "iTXt: text is not UTF-8");
    return true;
}

bool ChunkTypeValid(const std::string& type) {
    return std::all_of(type.begin(), type.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

}  // namespace

int Channels(int colorType) {
    switch (colorType) {
        case 0:
            return 1;
        case 2:
            return 3;
        case 3:
            return 1;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 0;
    }
}

std::vector<std::uint8_t> Signature() {
    return Bytes(std::begin(kSignature), std::end(kSignature));
}

std::vector<std::uint8_t> Chunk(const std::string& type, const std::vector<std::uint8_t>& data) {
    if (type.size() != 4) throw std::invalid_argument("chunk type must have four letters");
    Bytes out;
    out.reserve(data.size() + 12);
    PutU32(&out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + 4, static_cast<uInt>(4 + data.size()));
    PutU32(&out, static_cast<std::uint32_t>(crc));
    return out;
}

std::vector<std::uint8_t> Encode(const Image& image) {
    const int channels = Channels(image.colorType);
    if (channels == 0) throw std::invalid_argument("unknown colour type");
    if (!DepthAllowed(image.colorType, image.bitDepth)) {
        throw std::invalid_argument("bit depth not allowed for the colour type");
    }
    const std::uint64_t sampleCount =
        std::uint64_t{image.width} * image.height * static_cast<std::uint64_t>(channels);
    if (image.samples.size() != sampleCount) {
        throw std::invalid_argument("samples.size() is not width * height * channels");
    }
    const std::uint32_t limit = image.bitDepth == 16 ? 0xFFFFu : (1u << image.bitDepth) - 1;
    for (const std::uint16_t s : image.samples) {
        if (s > limit) throw std::invalid_argument("sample too large for the bit depth");
    }

    Bytes file = Signature();
    auto append = [&file](const std::string& type, const Bytes& data) {
        const Bytes chunk = Chunk(type, data);
        file.insert(file.end(), chunk.begin(), chunk.end());
    };

    Bytes header;
    PutU32(&header, image.width);
    PutU32(&header, image.height);
    header.push_back(static_cast<std::uint8_t>(image.bitDepth));
    header.push_back(static_cast<std::uint8_t>(image.colorType));
    header.push_back(0);  // deflate
    header.push_back(0);  // adaptive filtering
    header.push_back(image.interlaced ? 1 : 0);
    append("IHDR", header);

    if (!image.palette.empty()) {
        Bytes plte;
        for (const auto& entry : image.palette) plte.insert(plte.end(), entry.begin(), entry.end());
        append("PLTE", plte);
    }
    if (!image.paletteAlpha.empty()) append("tRNS", image.paletteAlpha);

    for (const TextChunk& text : image.texts) {
        Bytes data(text.keyword.begin(), text.keyword.end());
        data.push_back(0);
        if (text.type == "tEXt") {
            data.insert(data.end(), text.text.begin(), text.text.end());
        } else if (text.type == "zTXt") {
            data.push_back(0);  // deflate
            const Bytes packed = Compress(text.text);
            data.insert(data.end(), packed.begin(), packed.end());
        } else if (text.type == "iTXt") {
            data.push_back(1);  // compressed
            data.push_back(0);  // deflate
            data.push_back(0);  // empty language tag
            data.push_back(0);  // empty translated keyword
            const Bytes packed = Compress(text.text);
            data.insert(data.end(), packed.begin(), packed.end());
        } else {
            throw std::invalid_argument("unknown text chunk type " + text.type);
        }
        append(text.type, data);
    }

    const std::size_t stride = FilterStride(channels, image.bitDepth);
    Bytes raw;
    Bytes packed;
    Bytes previous;
    std::vector<std::uint16_t> rowSamples;
    const Pass* passes = image.interlaced ? kAdam7 : &kWholeImage;
    const int passCount = image.interlaced ? 7 : 1;
    for (int p = 0; p < passCount; ++p) {
        const Pass& pass = passes[p];
        const std::uint32_t passWidth = PassSize(image.width, pass.x0, pass.dx);
        const std::uint32_t passHeight = PassSize(image.height, pass.y0, pass.dy);
        if (passWidth == 0 || passHeight == 0) continue;
        for (std::uint32_t row = 0; row < passHeight; ++row) {
            const std::uint64_t y = pass.y0 + std::uint64_t{row} * pass.dy;
            rowSamples.clear();
            for (std::uint32_t col = 0; col < passWidth; ++col) {
                const std::uint64_t x = pass.x0 + std::uint64_t{col} * pass.dx;
                const std::uint64_t at =
                    (y * image.width + x) * static_cast<std::uint64_t>(channels);
                for (int c = 0; c < channels; ++c) rowSamples.push_back(image.samples[at + c]);
            }
            PackRow(rowSamples, image.bitDepth, &packed);
            FilterRow(static_cast<int>(row % 5), stride, packed,
                      row == 0 ? nullptr : previous.data(), &raw);
            previous.swap(packed);
        }
    }

    const Bytes stream = Compress(raw);
    const std::size_t piece = std::min(kMaxIdatPiece, (stream.size() + 2) / 3);
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::size_t end = std::min(stream.size(), at + piece);
        append("IDAT", Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                             stream.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    append("IEND", {});
    return file;
}

bool Decode(const std::vector<std::uint8_t>& file, Image* image, std::string* error) {
    if (file.size() < 8 ||
        !std::equal(std::begin(kSignature), std::end(kSignature), file.begin())) {
        return Fail(error, "not a PNG signature");
    }
    Image result;
    bool haveHeader = false;
    bool havePalette = false;
    bool haveTransparency = false;
    bool idatSeen = false;
    bool idatEnded = false;
    bool haveEnd = false;
    Bytes compressed;
    std::size_t pos = 8;
    while (!haveEnd) {
        const std::string where = " at offset " + std::to_string(pos);
        if (file.size() - pos < 12) {
            return Fail(error, pos == file.size() ? "missing IEND" : "truncated chunk" + where);
        }
        const std::uint32_t length = GetU32(&file[pos]);
        if (length > 0x7FFFFFFFu) return Fail(error, "chunk length too large" + where);
        if (file.size() - pos - 12 < length) return Fail(error, "truncated chunk" + where);
        const std::string type(file.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                               file.begin() + static_cast<std::ptrdiff_t>(pos + 8));
        if (!ChunkTypeValid(type)) return Fail(error, "invalid chunk type" + where);
        const std::uint8_t* data = file.data() + pos + 8;
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, file.data() + pos + 4, static_cast<uInt>(length + 4));
        if (GetU32(data + length) != static_cast<std::uint32_t>(crc)) {
            return Fail(error, "CRC mismatch in " + type + where);
        }
        pos += 12 + static_cast<std::size_t>(length);

        if (!haveHeader && type != "IHDR") return Fail(error, "first chunk is " + type);
        if (idatSeen && type != "IDAT") idatEnded = true;

        if (type == "IHDR") {
            if (haveHeader) return Fail(error, "second IHDR");
            if (length != 13) return Fail(error, "IHDR has length " + std::to_string(length));
            haveHeader = true;
            result.width = GetU32(data);
            result.height = GetU32(data + 4);
            result.bitDepth = data[8];
            result.colorType = data[9];
            if (result.width == 0 || result.height == 0 || result.width > 0x7FFFFFFFu ||
                result.height > 0x7FFFFFFFu) {
                return Fail(error, "invalid picture size in IHDR");
            }
            if (Channels(result.colorType) == 0) return Fail(error, "unknown colour type");
            if (!DepthAllowed(result.colorType, result.bitDepth)) {
                return Fail(error, "bit depth not allowed for the colour type");
            }
            if (data[10] != 0) return Fail(error, "unknown compression method");
            if (data[11] != 0) return Fail(error, "unknown filter method");
            if (data[12] == 1) return Fail(error, "interlaced pictures are not supported");
            if (data[12] != 0) return Fail(error, "unknown interlace method");
        } else if (type == "PLTE") {
            if (havePalette) return Fail(error, "second PLTE");
            if (idatSeen) return Fail(error, "PLTE after IDAT");
            if (haveTransparency) return Fail(error, "PLTE after tRNS");
            if (result.colorType == 0 || result.colorType == 4) {
                return Fail(error, "PLTE in a grey picture");
            }
            if (length == 0 || length % 3 != 0 || length > 768) {
                return Fail(error, "PLTE has length " + std::to_string(length));
            }
            if (result.colorType == 3 && length / 3 > (1u << result.bitDepth)) {
                return Fail(error, "PLTE has more entries than the bit depth can index");
            }
            havePalette = true;
            for (std::uint32_t i = 0; i < length; i += 3) {
                result.palette.push_back({data[i], data[i + 1], data[i + 2]});
            }
        } else if (type == "tRNS") {
            if (haveTransparency) return Fail(error, "second tRNS");
            if (idatSeen) return Fail(error, "tRNS after IDAT");
            haveTransparency = true;
            if (result.colorType == 3) {
                if (!havePalette) return Fail(error, "tRNS before PLTE");
                if (length > result.palette.size()) {
                    return Fail(error, "tRNS has more entries than PLTE");
                }
                result.paletteAlpha.assign(data, data + length);
            } else if (result.colorType == 0 || result.colorType == 2) {
                const std::uint32_t wanted = result.colorType == 0 ? 2 : 6;
                if (length != wanted) {
                    return Fail(error, "tRNS has length " + std::to_string(length));
                }
                for (std::uint32_t i = 0; i < length; i += 2) {
                    const std::uint32_t value = data[i] << 8 | data[i + 1];
                    if (result.bitDepth < 16 && value >= (1u << result.bitDepth)) {
                        return Fail(error, "tRNS colour too large for the bit depth");
                    }
                }
            } else {
                return Fail(error, "tRNS in a picture with an alpha channel");
            }
        } else if (type == "IDAT") {
            if (idatEnded) return Fail(error, "IDAT chunks are not consecutive");
            if (result.colorType == 3 && !havePalette) return Fail(error, "IDAT before PLTE");
            idatSeen = true;
            compressed.insert(compressed.end(), data, data + length);
        } else if (type == "IEND") {
            if (length != 0) return Fail(error, "IEND is not empty");
            haveEnd = true;
        } else if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            TextChunk text;
            if (!ParseText(type, data, length, &text, error)) return false;
            result.texts.push_back(std::move(text));
        } else if (type[0] >= 'A' && type[0] <= 'Z') {
            return Fail(error, "unknown critical chunk " + type);
        }
        // Other ancillary chunks carry nothing the tests look at.
    }
    if (pos != file.size()) return Fail(error, "data after IEND");
    if (!idatSeen) return Fail(error, "no IDAT");

    const int channels = Channels(result.colorType);
    const std::uint64_t rowBytes = RowBytes(result.width, channels, result.bitDepth);
    const std::uint64_t expected = (rowBytes + 1) * result.height;
    if (expected > kMaxRawBytes) return Fail(error, "picture too large for this reader");
    Bytes raw;
    if (!Inflate(compressed.data(), compressed.size(), expected, &raw, error, "IDAT")) {
        return false;
    }
    if (raw.size() != expected) {
        return Fail(error, "IDAT holds " + std::to_string(raw.size()) + " bytes, expected " +
                               std::to_string(expected));
    }

    const std::size_t stride = FilterStride(channels, result.bitDepth);
    const std::size_t rowSize = static_cast<std::size_t>(rowBytes);
    const std::size_t perRow = static_cast<std::size_t>(result.width) * channels;
    result.samples.resize(perRow * result.height);
    for (std::uint32_t y = 0; y < result.height; ++y) {
        std::uint8_t* line = raw.data() + static_cast<std::size_t>(y) * (rowSize + 1);
        const int filter = line[0];
        if (filter > 4) {
            return Fail(error,
                        "row " + std::to_string(y) + " has filter type " + std::to_string(filter));
        }
        const std::uint8_t* prev = y == 0 ? nullptr : line - rowSize;
        UnfilterRow(filter, stride, line + 1, rowSize, prev);
        UnpackRow(line + 1, perRow, result.bitDepth, result.samples.data() + y * perRow);
    }
    if (result.colorType == 3) {
        for (const std::uint16_t index : result.samples) {
            if (index >= result.palette.size()) {
                return Fail(error, "palette index " + std::to_string(index) + " beyond PLTE");
            }
        }
    }
    *image = std::move(result);
    return true;
}

}  // namespace pngtest
