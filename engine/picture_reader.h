// Full-precision reading of an RQ6 picture: the headers, the comment and the
// stored rows with their differences undone, one row at a time. A conversion
// uses the same pieces, so a picture reads the same way (and fails with the
// same status) whether it is converted, inspected or extracted.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/bitmap_headers.h"
#include "engine/byte_source.h"
#include "engine/conversion_status.h"
#include "engine/huffman_code.h"
#include "engine/limits.h"
#include "engine/rq6_layout.h"

// Tests the decoded bitmap headers of a picture: its type, bit depth and row
// coding, and the sizes every later computation depends on (positive and
// within the limits, a comment length that is neither negative nor absurd).
// kStatusOk or kStatusFormatError.
std::uint32_t CheckPayloadHeaders(const std::uint8_t* fileHeader, const std::uint8_t* infoHeader);

// Decodes the two bitmap headers and the comment region that follows them,
// keeping its first kCommentSize bytes in `comment` and passing over the rest,
// so that a long comment can neither overrun the field nor shift the rows. A
// comment length beyond all reason is not read at all. Returns
// kStatusReadFailed when the stream ends early, kStatusFormatError when the
// headers describe no picture this program reads, else kStatusOk.
std::uint32_t ReadPictureHeaders(HuffmanCode& decoder, std::uint8_t* fileHeader,
                                 std::uint8_t* infoHeader, std::uint8_t* comment,
                                 std::uint32_t* commentLength);

// Turns the decoded bytes of the first stored row into samples, in place:
// `row` holds the little-endian bytes on entry and 3 x width samples on return.
void UndoFirstRowDeltas(std::uint16_t* row, std::uint32_t width);

// Turns the decoded bytes of a later row into samples: row[i] += sample i of
// `delta` (little-endian bytes), modulo 65536. The buffers must not overlap.
void AddRowDeltas(std::uint16_t* row, const std::uint16_t* delta, std::uint32_t samples);

// Reads a picture's stored rows, bottom row first, at full precision.
// Like a conversion job it keeps the first failure and does nothing after it.
class PictureReader {
public:
    PictureReader();
    ~PictureReader();
    PictureReader(const PictureReader&) = delete;
    PictureReader& operator=(const PictureReader&) = delete;

    // Opens the file and reads everything before the rows.
    std::uint32_t Open(const char* utf8Path);
    // The same from a source (borrowed; it must outlive the reader), read from
    // where it stands. The statuses are those of a file, except that a source
    // is never "not opened".
    std::uint32_t Open(ByteSource& source);

    // Fills 3 x Width() samples (blue, green, red) with the next stored row.
    // Reading more than Height() rows is refused with kStatusUnexpected.
    std::uint32_t ReadRow(std::uint16_t* bgr);
    // The same without the copy: the next stored row becomes Row(), which
    // stays where it is, row after row, until the reader goes.
    std::uint32_t NextRow();
    const std::uint16_t* Row() const { return row.get(); }

    std::uint32_t Width() const {
        return static_cast<std::uint32_t>(bmp::GetSigned32(infoHeader, bmp::kBiWidth));
    }
    std::uint32_t Height() const {
        return static_cast<std::uint32_t>(bmp::GetSigned32(infoHeader, bmp::kBiHeight));
    }
    // Bytes of the comment text: up to its terminator, at most kCommentSize.
    std::uint32_t CommentTextLength() const;
    int InternalNodeCount() const { return decoder ? decoder->InternalNodeCount() : 0; }
    std::uint32_t Extra() const { return decoder ? decoder->extra : 0; }

    // Why the reader failed, as far as the input says: after a failed open or
    // a read failure (kStatusReadFailed), whether a read of the input failed
    // (else the input ended early) and the system's code for it, 0 if none.
    bool InputFailed() const { return decoder && decoder->ReadFailed(); }
    int SystemError() const { return decoder ? decoder->SystemError() : 0; }

    // False when the input knows its size and that size cannot hold the
    // rows the headers announce: a picture whose headers read has a code of
    // at least two leaves, so each byte of its rows costs at least one bit.
    // Lets a caller refuse such a file, with the kStatusReadFailed reading it
    // through would give, before it takes memory for the whole picture.
    bool InputCanHoldRows() const;
    // The bytes the input holds, when it knows (a file, a buffer; not a pipe).
    bool InputSize(std::uint64_t* bytes) const;

    std::uint8_t fileHeader[bmp::kFileHeaderSize] = {};
    std::uint8_t infoHeader[bmp::kInfoHeaderSize] = {};
    // Not necessarily zero-terminated when the stored comment fills it.
    std::uint8_t comment[limits::kCommentSize] = {};
    // Length of the whole stored comment region.
    std::uint32_t commentLength = 0;
    std::uint32_t status = kStatusOk;
    std::uint32_t rowsRead = 0;

private:
    std::uint32_t Fail(std::uint32_t code) { return status = code; }
    template <typename Make>
    std::uint32_t OpenWith(Make make);

    std::unique_ptr<HuffmanCode> decoder;
    // The samples of the row last read, and the decoded bytes of the next.
    std::unique_ptr<std::uint16_t[]> row;
    std::unique_ptr<std::uint16_t[]> delta;
};
