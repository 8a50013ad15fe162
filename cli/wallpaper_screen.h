// The size of the screen a wallpaper is made for, read from the X server
// (XWayland included) through XRandR. libX11 and libXrandr are loaded when
// they are needed, so the tool runs, and all its other commands work, on a
// machine without them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wallpaper {

// One monitor that shows a picture: its mode's size as it appears on the
// screen (a monitor turned by 90 degrees shows its mode's height across).
struct Monitor {
    bool primary = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct ScreenSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Why no size was found, in the user's language; "" when one was.
    std::string problem;
};

// The primary monitor's size; with none marked primary the largest one's (the
// first of equal ones); with no monitor at all, the X screen's own size.
ScreenSize ChooseSize(const std::vector<Monitor>& monitors, std::uint32_t screenWidth,
                      std::uint32_t screenHeight);

// The size for the display named by DISPLAY.
ScreenSize FindScreenSize();

}  // namespace wallpaper
