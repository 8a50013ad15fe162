// The contrast preview of the settings dialog: a 543 x 93 picture, black on
// the left half and white on the right, with a grey ramp across both halves
// drawn through the tone curve of the current trackbar position, and magenta
// markers at the ramp's ends. The pixels are a bottom-up 24-bit bitmap
// (blue, green, red), as the dialog's bitmap section holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "engine/gamma_table.h"

namespace preview {

inline constexpr int kWidth = 543;
inline constexpr int kHeight = 93;
inline constexpr int kStride = 1632;  // 3 * 543 rounded up to 4 bytes
inline constexpr int kImageSize = kStride * kHeight;

// The ramp: 256 steps of two columns from x = 15, rows 14 ... 77 from the top.
inline constexpr int kRampLeft = 15;
inline constexpr int kRampTop = 14;
inline constexpr int kRampRows = 64;

// Colour of the pixel at (x, y), y counted from the top: blue, green, red.
struct Bgr {
    std::uint8_t b, g, r;
};
Bgr PixelAt(const std::uint8_t* bits, int x, int y);

// Background halves and the markers; drawn once.
void DrawBackground(std::uint8_t* bits);
// The ramp band from a 256-entry tone table.
void DrawRamp(std::uint8_t* bits, const std::uint8_t* table);

// The preview's drawing state: the trackbar position shown, and the tone
// table it is drawn through.
class Renderer {
public:
    // Creates the tone table object; `curve` stays null if that fails.
    enum class Init { kOk, kNoMemory, kUnexpected };
    template <typename MakeCurve>
    Init Create(MakeCurve make) {
        try {
            curve = make();
        } catch (const std::bad_alloc&) {
            return Init::kNoMemory;
        } catch (...) {
            return Init::kUnexpected;
        }
        if (!curve) return Init::kUnexpected;
        return curve->table ? Init::kOk : Init::kNoMemory;
    }

    // Redraws the ramp for `contrastPosition` unless it is already shown.
    // True when the pixels changed.
    bool Render(std::uint8_t* bits, const ContrastTable& contrast);

    int contrastPosition = ContrastTable::kMiddle;
    int renderedPosition = -1;
    std::unique_ptr<CGammaCB> curve;
};

}  // namespace preview
