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

protected:
    ~FrameSource() = default;
};

}  // namespace wic
