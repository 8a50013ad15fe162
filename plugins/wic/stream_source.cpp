#include "plugins/wic/stream_source.h"

namespace wic {

bool StreamSource::Read(void* buffer, std::uint32_t size, std::uint32_t* got) {
    ULONG n = 0;
    const HRESULT hr = stream_->Read(buffer, size, &n);
    // S_FALSE with fewer bytes, or none, is the end of the stream.
    if (FAILED(hr)) {
        systemError = static_cast<int>(hr);
        *got = 0;
        return false;
    }
    *got = n <= size ? static_cast<std::uint32_t>(n) : size;
    return true;
}

HRESULT SeekTo(IStream* stream, std::uint64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return stream->Seek(to, STREAM_SEEK_SET, nullptr);
}

HRESULT Tell(IStream* stream, std::uint64_t* position) {
    LARGE_INTEGER none = {};
    ULARGE_INTEGER at = {};
    const HRESULT hr = stream->Seek(none, STREAM_SEEK_CUR, &at);
    *position = at.QuadPart;
    return hr;
}

bool StreamSource::TotalSize(std::uint64_t* bytes) const {
    STATSTG stat = {};
    if (FAILED(stream_->Stat(&stat, STATFLAG_NONAME))) return false;
    *bytes = stat.cbSize.QuadPart;
    return true;
}

}  // namespace wic
