#include "engine/color_mode.h"

bool IsColorMode(std::uint32_t mode) {
    switch (mode) {
        case kModeMono:
        case kModeSystem16:
        case kModeGray16:
        case kModeColor256:
        case kModeGray256:
        case kModeHighColor:
        case kModeFullColor:
            return true;
        default:
            return false;
    }
}

std::uint32_t IndexBits(std::uint32_t colorMode) {
    switch (colorMode) {
        case kModeMono: return 1;
        case kModeSystem16:
        case kModeGray16: return 4;
        case kModeColor256:
        case kModeGray256: return 8;
        default: return 0;
    }
}

std::uint32_t OutputStride(std::uint32_t colorMode, std::uint32_t width) {
    switch (colorMode) {
        case kModeMono:
            return (((width + 7) >> 3) + 3) & ~3u;
        case kModeSystem16:
        case kModeGray16:
            return (((width + 1) >> 1) + 3) & ~3u;
        case kModeColor256:
        case kModeGray256:
            return (width + 3) & ~3u;
        case kModeDeepColor:
            return (6 * width + 3) & ~3u;
        default:
            return (3 * width + 3) & ~3u;
    }
}
