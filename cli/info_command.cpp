#include "cli/info_command.h"

#include <cstdio>

#include "cli/picture_input.h"
#include "engine/bitmap_headers.h"
#include "engine/picture_reader.h"
#include "formats/text_codec.h"

namespace command {

namespace {

void PrintInfo(const std::string& path, const PictureReader& info) {
    const std::uint8_t* fh = info.fileHeader;
    const std::uint8_t* ih = info.infoHeader;
    const std::string comment(reinterpret_cast<const char*>(info.comment),
                              info.CommentTextLength());
    std::printf("file:            %s\n", path.c_str());
    std::printf("size:            %d x %d\n", bmp::GetSigned32(ih, bmp::kBiWidth),
                bmp::GetSigned32(ih, bmp::kBiHeight));
    std::printf("comment:         %s\n", text::CommentForDisplay(comment).c_str());
    std::printf("comment bytes:   %u\n", info.commentLength);
    std::printf("code tree:       %d internal nodes, %d leaves\n", info.InternalNodeCount(),
                info.InternalNodeCount() + 1);
    std::printf("extra value:     0x%08x\n", info.Extra());
    std::printf("bfType:          %c%c\n", fh[0], fh[1]);
    std::printf("bfSize:          %u\n", bmp::Get32(fh, bmp::kBfSize));
    std::printf("bfReserved1:     %u\n", bmp::Get16(fh, bmp::kBfReserved1));
    std::printf("bfReserved2:     %u\n", bmp::Get16(fh, bmp::kBfReserved2));
    std::printf("bfOffBits:       %u\n", bmp::Get32(fh, bmp::kBfOffBits));
    std::printf("biSize:          %u\n", bmp::Get32(ih, bmp::kBiSize));
    std::printf("biWidth:         %d\n", bmp::GetSigned32(ih, bmp::kBiWidth));
    std::printf("biHeight:        %d\n", bmp::GetSigned32(ih, bmp::kBiHeight));
    std::printf("biPlanes:        %u\n", bmp::Get16(ih, bmp::kBiPlanes));
    std::printf("biBitCount:      %u\n", bmp::Get16(ih, bmp::kBiBitCount));
    std::printf("biCompression:   %u\n", bmp::Get32(ih, bmp::kBiCompression));
    std::printf("biSizeImage:     %u\n", bmp::Get32(ih, bmp::kBiSizeImage));
    std::printf("biXPelsPerMeter: %d\n", bmp::GetSigned32(ih, bmp::kBiXPelsPerMeter));
    std::printf("biYPelsPerMeter: %d\n", bmp::GetSigned32(ih, bmp::kBiYPelsPerMeter));
    std::printf("biClrUsed:       %u\n", bmp::Get32(ih, bmp::kBiClrUsed));
    std::printf("biClrImportant:  %u\n", bmp::Get32(ih, bmp::kBiClrImportant));
}

}  // namespace

int RunInfo(const std::string& path) {
    PictureInput in(path);
    PictureReader info;
    if (const std::uint32_t s = in.Open(info)) return static_cast<int>(s);
    PrintInfo(InputNameForScripts(path), info);
    return 0;
}

}  // namespace command
