// An RQ6 picture converted in full colour while its bytes arrive in pieces of
// any size, as an image library hands them to a loader.
//
// The headers are looked for as the bytes come; once they are complete the
// owner learns the picture's size and chooses the size to make. Memory for
// the picture is taken only once the bytes could hold its rows (a code
// spends at least a bit on each byte of them), so that a short file cannot
// claim a huge picture. Rows are then converted by the engine's conversion
// job (contrast exponent 1, full colour, area averaging straight to that
// size) whenever the bytes held certainly carry the next step, and all the
// rest once the last piece has come. The pixels are therefore exactly those
// of a whole conversion of the file.
//
// Every failure is a ConversionStatus and final, as in a conversion job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/picture_reader.h"
#include "engine/row_output.h"
#include "engine/wp_convert.h"
#include "plugins/pixbuf/held_bytes.h"

class StreamedPicture {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        // The headers are complete: the picture is width x height. Sets the
        // size to make, or 0 x 0 when nothing more is wanted. A non-zero
        // ConversionStatus stops the reading with it.
        virtual std::uint32_t ChooseSize(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t* outWidth, std::uint32_t* outHeight) = 0;
        // The rows are about to be made: sets where they go (borrowed; it
        // must outlive the picture), or returns a non-zero status.
        virtual std::uint32_t Allocate(std::uint32_t outWidth, std::uint32_t outHeight,
                                       RowOutput** rows) = 0;
    };

    explicit StreamedPicture(Listener& listener);
    ~StreamedPicture();
    StreamedPicture(const StreamedPicture&) = delete;
    StreamedPicture& operator=(const StreamedPicture&) = delete;

    // Takes the next piece and converts as far as the bytes held carry.
    // Bytes after the picture are ignored. Returns the status.
    std::uint32_t Add(const std::uint8_t* data, std::size_t size);
    // The last piece has come: converts the remaining rows. kStatusOk once
    // every row is made, or when only the headers were wanted.
    std::uint32_t End();

private:
    enum class Stage {
        kHeaders,  // the headers are not complete yet
        kSized,    // the size is chosen; nothing is allocated yet
        kRows,     // the job is making rows
        kDone,     // every row is made, or only the headers were wanted
        kFailed,
    };

    std::uint32_t Fail(std::uint32_t code);
    std::uint32_t Advance();
    std::uint32_t LookForHeaders();
    std::uint32_t BeginRows();
    std::uint32_t Step();
    // Stored rows one step of the job may read, at most.
    std::uint64_t RowsPerStep() const;
    // Bytes beyond the reader's position that surely carry that many stored rows.
    std::uint64_t BytesFor(std::uint64_t storedRows) const;

    Listener& listener;
    HeldBytes held;
    std::unique_ptr<PictureReader> reader;
    std::unique_ptr<WPConvert> job;
    Stage stage_ = Stage::kHeaders;
    std::uint32_t status_ = kStatusOk;

    // The size of the stream at which the headers are looked for next.
    std::uint64_t nextLook = 1;
    // Known with the headers: the bytes up to the end of the comment (at
    // most), the stored size, the bits of the longest code and the size made.
    std::uint64_t headBytes = 0;
    std::uint32_t inWidth = 0;
    std::uint32_t inHeight = 0;
    std::uint64_t codeBits = 0;
    std::uint32_t outWidth = 0;
    std::uint32_t outHeight = 0;
};
