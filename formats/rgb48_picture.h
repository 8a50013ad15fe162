// An RQ6 picture decoded whole into the pixel layout that image libraries
// call 48-bit RGB: per pixel a 16-bit red, green and blue sample, each
// little-endian, rows top first and 6 bytes a pixel apart. Plug-ins hand it
// to a host as it is, at full precision; the host asks for any part of it,
// any number of times, so the picture is decoded once and kept.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/byte_source.h"
#include "engine/picture_reader.h"

namespace rgb48 {

inline constexpr std::uint32_t kBytesPerPixel = 6;

// A part of the picture, from its top left corner. Signed, as hosts hand it
// over: a negative field is a request to refuse, not to wrap.
struct Rect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

enum class CopyCheck {
    kOk,
    kOutsidePicture,   // the part is not (entirely) inside the picture
    kStrideTooSmall,   // rows would overlap
    kBufferTooSmall,   // the last row would not fit the buffer
};

// Whether the part `rect` of a width x height picture can be copied into
// `bufferSize` bytes as rows `stride` bytes apart. An empty part needs no
// room. Computed in 64 bits, so no product can wrap.
CopyCheck CheckCopy(std::uint32_t width, std::uint32_t height, const Rect& rect,
                    std::uint32_t stride, std::uint64_t bufferSize);

// Scales the picture in `source`, read from where it stands, to width x
// height by area averaging and copies the part `rect` of the result, which
// CheckCopy accepted, into rows `stride` bytes apart, in the layout above.
// Only rows of each size are held, never the picture: a thumbnail costs a
// pass over the file and a few kilobytes. Rows below the part are made and
// dropped, the rows above it never made. A conversion job's statuses.
std::uint32_t CopyScaled(ByteSource& source, std::uint32_t width, std::uint32_t height,
                         const Rect& rect, std::uint32_t stride, std::uint8_t* out);

class Picture {
public:
    // Reads everything before the rows. The source stays borrowed until
    // Decode has run. The statuses of PictureReader::Open.
    std::uint32_t Open(ByteSource& source);

    // Decodes every row into memory. The first call does the work, later
    // calls return its status; the source is not read after it. A source
    // too small to hold the rows it claims fails at once, as reading it
    // through would (kStatusReadFailed), before the memory is taken.
    std::uint32_t Decode();

    std::uint32_t Width() const { return reader.Width(); }
    std::uint32_t Height() const { return reader.Height(); }
    // Dots per inch from the picture's pixels per metre, or 96 (the
    // screen's usual density) where the picture gives none.
    double DpiX() const;
    double DpiY() const;

    // The decoded pixels, Height() rows of kBytesPerPixel x Width() bytes;
    // null until Decode has succeeded.
    const std::uint8_t* Pixels() const { return pixels.get(); }

    // Copies the part `rect`, which CheckCopy accepted, of the decoded
    // picture into rows `stride` bytes apart. Bytes between the rows and
    // after the last one are left alone.
    void Copy(const Rect& rect, std::uint32_t stride, std::uint8_t* out) const;

    std::uint32_t status = kStatusOk;

private:
    PictureReader reader;
    bool opened = false;
    bool decoded = false;
    std::unique_ptr<std::uint8_t[]> pixels;
};

}  // namespace rgb48
