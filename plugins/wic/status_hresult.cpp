#include "plugins/wic/status_hresult.h"

#include <wincodec.h>

#include "engine/conversion_status.h"

namespace wic {

HRESULT HResultFromStatus(std::uint32_t status, Stage stage, int streamError) {
    if (status == kStatusOk) return S_OK;
    if (status == kStatusOutOfMemory) return E_OUTOFMEMORY;
    // Whatever the engine made of it, a stream that failed is the cause.
    if (streamError != 0) return WINCODEC_ERR_STREAMREAD;
    switch (status) {
        case kStatusFormatError:
        case kStatusReadFailed:
            // Damaged, or ended before the picture did: in the headers the
            // file is no picture at all, in the rows a damaged one.
            return stage == Stage::kHeaders ? WINCODEC_ERR_BADHEADER : WINCODEC_ERR_BADIMAGE;
        default:
            return E_UNEXPECTED;
    }
}

}  // namespace wic
