// The bytes of a picture as they arrive, in pieces of any size, read by the
// engine as its byte source. A host program pushes the file's bytes while the
// engine pulls them, and the engine cannot wait for bytes that are still on
// their way: its reader takes a source that runs dry as the end of the
// picture. So the bytes are held here, and the owner lets the engine read
// only as far as the held bytes certainly carry it, until the last piece has
// come (StreamedPicture decides how far that is).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/byte_source.h"

class HeldBytes final : public ByteSource {
public:
    // Holds a copy of the piece. Bytes beyond the limit on the whole stream
    // are dropped: no reader can need them. False when memory for the copy
    // cannot be had (nothing of the piece is then held).
    bool Add(const std::uint8_t* data, std::size_t size);

    // Bytes given so far, the dropped ones included.
    std::uint64_t Received() const { return received; }
    // The most bytes of the stream worth holding; lowering it below what is
    // already held drops nothing.
    void SetLimit(std::uint64_t most) { limit = most; }
    // The last piece has come: from now on running dry is the true end.
    void MarkComplete() { complete = true; }
    bool Complete() const { return complete; }

    // Bytes held that the reader has not taken yet.
    std::size_t Unread() const { return bytes.size() - position; }
    // Everything held from the start of the stream; valid until the next Add
    // or Discard. Used to look at the headers before the reader starts.
    const std::uint8_t* Data() const { return bytes.data(); }
    std::size_t Size() const { return bytes.size(); }
    // Lets go of the bytes the reader has taken, which it keeps for itself as
    // far as it still needs them. Cheap when called often: the held bytes
    // move only once at least half of them have been taken.
    void Discard();

    bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) override;
    // The stream's length, once the last piece has come.
    bool TotalSize(std::uint64_t* length) const override;

    // The reader ran dry before the last piece had come: it took that for the
    // end of the picture, which it may not be. Whoever decides how far the
    // reader may go has made a mistake; the outcome of the reading is void.
    bool starved = false;

private:
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
    std::uint64_t received = 0;
    std::uint64_t limit = UINT64_MAX;
    bool complete = false;
};
