// The engine's outcome of reading a picture as the HRESULT a WIC decoder
// returns.
#pragma once

#include <windows.h>

#include <cstdint>

namespace wic {

// Where the reading stood: in the headers (Initialize) or in the rows (the
// first CopyPixels).
enum class Stage { kHeaders, kRows };

// `streamError` is the failing HRESULT of the stream's Read, or 0.
HRESULT HResultFromStatus(std::uint32_t status, Stage stage, int streamError);

}  // namespace wic
