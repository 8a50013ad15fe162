// A conversion's rows written straight into a PNG file of the same depth: the
// palette modes as indexed PNG with the bitmap's palette (1, 4 or 8 bits),
// modes 16 and 24 as 8-bit RGB, mode 48 as 16-bit RGB.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/row_output.h"
#include "formats/png_writer.h"
#include "platform/file_io.h"

namespace png_io {

class PngRowOutput final : public RowOutput {
public:
    // Writes into `file` (borrowed, left open) from where it stands.
    explicit PngRowOutput(platform::FileHandle file);
    ~PngRowOutput() override;

    std::uint32_t Start(std::uint32_t width, std::uint32_t height, std::uint32_t colorMode,
                        std::uint32_t stride) override;
    std::uint32_t WriteRow(const std::uint8_t* row) override;
    std::uint32_t Finish() override;

private:
    std::uint32_t Failed(std::uint32_t status);

    platform::FileHandle file_;
    std::uint32_t colorMode_ = 0;
    png_write::Layout layout_;
    std::unique_ptr<png_write::BottomUpWriter> writer_;
};

}  // namespace png_io
