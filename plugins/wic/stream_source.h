// The engine's byte source over a COM stream, and the stream positioning the
// decoder needs.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>

#include "engine/byte_source.h"

namespace wic {

// Reads from the stream's current position. The stream is borrowed. A
// failed read keeps the stream's HRESULT in systemError.
class StreamSource final : public ByteSource {
public:
    explicit StreamSource(IStream* stream) : stream_(stream) {}
    bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) override;
    // What the stream's Stat says, when it says it.
    bool TotalSize(std::uint64_t* bytes) const override;

private:
    IStream* stream_;
};

// Moves the stream to `position` bytes from its start.
HRESULT SeekTo(IStream* stream, std::uint64_t position);
// Where the stream stands, in bytes from its start.
HRESULT Tell(IStream* stream, std::uint64_t* position);

}  // namespace wic
