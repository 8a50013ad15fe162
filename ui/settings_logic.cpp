#include "ui/settings_logic.h"

#include <cctype>
#include <climits>
#include <cstdio>

#include "engine/wp_convert.h"
#include "resources/resource.h"

const SizePreset kSizePresets[kSizePresetCount] = {
    {IDC_SIZE_640, 640, 480},        {IDC_SIZE_800, 800, 600},
    {IDC_SIZE_1024, 1024, 768},      {IDC_SIZE_1152, 1152, 864},
    {IDC_SIZE_1280_960, 1280, 960},  {IDC_SIZE_1280_1024, 1280, 1024},
    {IDC_SIZE_1600_900, 1600, 900},  {IDC_SIZE_1600_1200, 1600, 1200},
};

ScreenDefaults DefaultsForScreen(int width, int height, int bitsPerPixel) {
    ScreenDefaults d;
    d.sizeRadio = IDC_SIZE_CUSTOM;
    for (const SizePreset& preset : kSizePresets) {
        if (preset.width == width && preset.height == height) {
            d.sizeRadio = preset.radioId;
            break;
        }
    }
    d.customEnabled = d.sizeRadio == IDC_SIZE_CUSTOM;
    d.widthText = std::to_string(width);
    d.heightText = std::to_string(height);
    // The greyscale formats are never offered as a default.
    if (bitsPerPixel <= 2) {
        d.colorRadio = IDC_MODE_MONO;
    } else if (bitsPerPixel <= 4) {
        d.colorRadio = IDC_MODE_SYSTEM16;
    } else if (bitsPerPixel <= 8) {
        d.colorRadio = IDC_MODE_COLOR256;
    } else if (bitsPerPixel <= 16) {
        d.colorRadio = IDC_MODE_HIGH;
    } else {
        d.colorRadio = IDC_MODE_FULL;
    }
    d.namingRadio = IDC_NAME_LONG;
    d.cropToAspect = true;
    return d;
}

std::optional<int> TrackbarStep(int code, int position, unsigned thumb) {
    constexpr int kLast = ContrastTable::kPositions - 1;
    constexpr int kPage = 16;
    switch (code) {
        case 0: return position > 0 ? position - 1 : 0;                        // TB_LINEUP
        case 1: return position < kLast ? position + 1 : kLast;                // TB_LINEDOWN
        case 2: return position > kPage ? position - kPage : 0;                // TB_PAGEUP
        case 3: return position < kLast - kPage ? position + kPage : kLast;    // TB_PAGEDOWN
        case 4:                                                                // TB_THUMBPOSITION
        case 5: return static_cast<int>(thumb & 0xFFFF);                       // TB_THUMBTRACK
        case 6: return 0;                                                      // TB_TOP
        case 7: return kLast;                                                  // TB_BOTTOM
        default: return std::nullopt;
    }
}

std::string FormatExponent(double exponent) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%1.3f", exponent);
    return buffer;
}

int ParseDecimal(const std::string& text) {
    const std::string s = text.substr(0, 15);
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');  // 15 digits fit 64 bits
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int SecondQuestionMark(const std::string& pattern) {
    const auto first = pattern.find('?');
    if (first == std::string::npos) return -1;
    const auto second = pattern.find('?', first + 1);
    return second == std::string::npos ? -1 : static_cast<int>(second);
}

int ColorModeForRadio(int radioId) {
    switch (radioId) {
        case IDC_MODE_MONO: return kModeMono;
        case IDC_MODE_GRAY16: return kModeGray16;
        case IDC_MODE_SYSTEM16: return kModeSystem16;
        case IDC_MODE_GRAY256: return kModeGray256;
        case IDC_MODE_COLOR256: return kModeColor256;
        case IDC_MODE_HIGH: return kModeHighColor;
        default: return kModeFullColor;
    }
}

void CollectSettings(const SettingsControls& controls, const ContrastTable& contrast,
                     ConversionSettings* settings) {
    settings->imageMask = 0;
    for (int i = 0; i < disc::kPictureCount; ++i) {
        if (controls.pictureChecked[i]) settings->imageMask |= static_cast<std::uint8_t>(1u << i);
    }
    settings->inputPath = kInputPattern;
    settings->inputDigitPos = SecondQuestionMark(settings->inputPath);

    if (controls.namingRadio == IDC_NAME_SHORT || controls.namingRadio == IDC_NAME_LONG) {
        settings->outputName =
            controls.namingRadio == IDC_NAME_SHORT ? kShortNamePattern : kLongNamePattern;
        settings->outputDigitPos = SecondQuestionMark(settings->outputName);
    } else if (controls.namingRadio == IDC_NAME_EACH) {
        settings->outputName.clear();
        settings->outputDigitPos = -1;
    }

    int position = controls.contrastPosition;
    if (position < 0) position = 0;
    if (position >= ContrastTable::kPositions) position = ContrastTable::kPositions - 1;
    settings->exponent = contrast.exponent[position];

    bool preset = false;
    for (const SizePreset& p : kSizePresets) {
        if (controls.sizeRadio == p.radioId) {
            settings->width = p.width;
            settings->height = p.height;
            preset = true;
            break;
        }
    }
    if (!preset) {
        settings->width = ParseDecimal(controls.widthText);
        settings->height = ParseDecimal(controls.heightText);
    }
    settings->colorMode = ColorModeForRadio(controls.colorRadio);
    settings->cropToAspect = controls.cropToAspect;
}
