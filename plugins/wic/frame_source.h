// What a frame needs of its decoder: the picture, and its rows decoded on
// first use.
#pragma once

#include <windows.h>

#include "formats/rgb48_picture.h"

namespace wic {

class FrameSource {
public:
    virtual const rgb48::Picture& Picture() const = 0;
    // Decodes the rows unless done; safe from any thread.
    virtual HRESULT DecodeRows() = 0;
    // The picture scaled to width x height, the part `rect` of it (checked
    // by the caller) into rows `stride` bytes apart; safe from any thread.
    virtual HRESULT CopyScaled(UINT width, UINT height, const rgb48::Rect& rect, UINT stride,
                               BYTE* out) = 0;

protected:
    ~FrameSource() = default;
};

}  // namespace wic
