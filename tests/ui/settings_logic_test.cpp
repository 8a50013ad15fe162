// The settings dialog's decisions: defaults from the screen mode, trackbar
// steps and the exponent shown, and the settings gathered for a run.
#include "ui/settings_logic.h"

#include <cmath>
#include <utility>

#include "gtest/gtest.h"
#include "resources/resource.h"

namespace {

TEST(ScreenDefaults, PresetScreensChooseTheirRadioAndDisableTheCustomEdits) {
    const struct {
        int w, h, radio;
    } cases[] = {{640, 480, 259},   {800, 600, 260},   {1024, 768, 261}, {1152, 864, 262},
                 {1280, 960, 263},  {1280, 1024, 264}, {1600, 900, 265}, {1600, 1200, 266}};
    for (const auto& c : cases) {
        const ScreenDefaults d = DefaultsForScreen(c.w, c.h, 16);
        EXPECT_EQ(d.sizeRadio, c.radio) << c.w << "x" << c.h;
        EXPECT_FALSE(d.customEnabled);
        // The edits show the screen size whatever the preset.
        EXPECT_EQ(d.widthText, std::to_string(c.w));
        EXPECT_EQ(d.heightText, std::to_string(c.h));
    }
}

TEST(ScreenDefaults, OtherScreensGetTheCustomSizeWithTheScreenInTheEdits) {
    const ScreenDefaults d = DefaultsForScreen(1366, 768, 32);
    EXPECT_EQ(d.sizeRadio, IDC_SIZE_CUSTOM);
    EXPECT_TRUE(d.customEnabled);
    EXPECT_EQ(d.widthText, "1366");
    EXPECT_EQ(d.heightText, "768");
    EXPECT_EQ(DefaultsForScreen(768, 1024, 32).sizeRadio, IDC_SIZE_CUSTOM);  // portrait
    // Today's screens: their own size, cropped to fit, whatever the shape.
    for (const auto& [w, h] : {std::pair{1920, 1080}, {1080, 1920}, {3840, 2160}, {7681, 4320},
                               {100, 100}, {1024, 768}}) {
        const ScreenDefaults screen = DefaultsForScreen(w, h, 32);
        EXPECT_EQ(screen.sizeRadio, w == 1024 ? IDC_SIZE_1024 : IDC_SIZE_CUSTOM) << w << "x" << h;
        EXPECT_EQ(screen.widthText + "x" + screen.heightText,
                  std::to_string(w) + "x" + std::to_string(h));
        EXPECT_TRUE(screen.cropToAspect) << w << "x" << h;
    }
}

TEST(ScreenDefaults, ColourFormatFollowsTheBitsPerPixelAndIsNeverGrey) {
    const struct {
        int bpp, radio;
    } cases[] = {{1, 270},  {2, 270},  {3, 272},  {4, 272},  {8, 274},
                 {15, 275}, {16, 275}, {24, 276}, {32, 276}};
    for (const auto& c : cases) {
        EXPECT_EQ(DefaultsForScreen(1024, 768, c.bpp).colorRadio, c.radio) << c.bpp;
    }
    EXPECT_EQ(DefaultsForScreen(1024, 768, 16).namingRadio, IDC_NAME_LONG);
}

TEST(Trackbar, EachScrollCodeMovesAsTheTrackbarDoes) {
    // Codes 0..7: line up/down, page up/down, thumb position/track, top, bottom.
    EXPECT_EQ(TrackbarStep(0, 100, 0), 99);
    EXPECT_EQ(TrackbarStep(0, 0, 0), 0);
    EXPECT_EQ(TrackbarStep(1, 100, 0), 101);
    EXPECT_EQ(TrackbarStep(1, 256, 0), 256);
    EXPECT_EQ(TrackbarStep(2, 100, 0), 84);
    EXPECT_EQ(TrackbarStep(2, 10, 0), 0);
    EXPECT_EQ(TrackbarStep(2, 16, 0), 0);
    EXPECT_EQ(TrackbarStep(3, 100, 0), 116);
    EXPECT_EQ(TrackbarStep(3, 250, 0), 256);
    EXPECT_EQ(TrackbarStep(3, 240, 0), 256);
    EXPECT_EQ(TrackbarStep(4, 100, 64), 64);
    EXPECT_EQ(TrackbarStep(5, 100, 200), 200);
    EXPECT_EQ(TrackbarStep(6, 100, 0), 0);
    EXPECT_EQ(TrackbarStep(7, 100, 0), 256);
}

TEST(Trackbar, EndTrackAndUnknownCodesChangeNothing) {
    EXPECT_FALSE(TrackbarStep(8, 100, 50).has_value());  // TB_ENDTRACK
    EXPECT_FALSE(TrackbarStep(9, 100, 50).has_value());
    EXPECT_FALSE(TrackbarStep(-1, 100, 50).has_value());
}

TEST(Trackbar, ExponentTextAtTheMarkedPositions) {
    const ContrastTable table;
    EXPECT_EQ(FormatExponent(table.exponent[0]), "0.400");
    EXPECT_EQ(FormatExponent(table.exponent[64]), "0.632");
    EXPECT_EQ(FormatExponent(table.exponent[128]), "1.000");
    EXPECT_EQ(FormatExponent(table.exponent[192]), "1.581");
    EXPECT_EQ(FormatExponent(table.exponent[256]), "2.500");
    // Independently: every position shows 2.5^((i - 128) / 128) to three places.
    for (int i = 0; i <= 256; ++i) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%.3f", std::pow(2.5, (i - 128) / 128.0));
        EXPECT_EQ(FormatExponent(table.exponent[i]), expected) << i;
    }
}

TEST(CustomSize, TextIsReadAsTheCLibraryReadsIt) {
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("abc"), 0);
    EXPECT_EQ(ParseDecimal("1280"), 1280);
    EXPECT_EQ(ParseDecimal("  640"), 640);
    EXPECT_EQ(ParseDecimal("+48"), 48);
    EXPECT_EQ(ParseDecimal("-20"), -20);
    EXPECT_EQ(ParseDecimal("12x34"), 12);
    // Only the first 15 characters count; beyond int's range the value saturates.
    EXPECT_EQ(ParseDecimal("000000000000001999"), 1);
    EXPECT_EQ(ParseDecimal("99999999999"), 2147483647);
    EXPECT_EQ(ParseDecimal("-99999999999"), -2147483647 - 1);
}

SettingsControls Controls() {
    SettingsControls c;
    c.sizeRadio = IDC_SIZE_1024;
    c.colorRadio = IDC_MODE_HIGH;
    c.namingRadio = IDC_NAME_LONG;
    return c;
}

TEST(Collect, PictureMaskHasOneBitPerCheckedPicture) {
    const ContrastTable table;
    ConversionSettings s;
    SettingsControls c = Controls();
    c.pictureChecked[0] = c.pictureChecked[4] = true;
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.imageMask, 17);
    for (bool& b : c.pictureChecked) b = true;
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.imageMask, 31);
    for (bool& b : c.pictureChecked) b = false;
    c.pictureChecked[2] = true;
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.imageMask, 4);
}

TEST(Collect, PatternsAndTheirDigitPositions) {
    const ContrastTable table;
    ConversionSettings s;
    SettingsControls c = Controls();
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.inputPath, "A:\\Extends\\Sg0??.rq6");
    EXPECT_EQ(s.inputDigitPos, 15);
    EXPECT_EQ(s.outputName, "Orvane_Sg0??.bmp");
    EXPECT_EQ(s.outputDigitPos, 11);

    c.namingRadio = IDC_NAME_SHORT;
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.outputName, "ORVSg0??.bmp");
    EXPECT_EQ(s.outputDigitPos, 7);

    c.namingRadio = IDC_NAME_EACH;
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.outputName, "");
    EXPECT_EQ(s.outputDigitPos, -1);

    // With no naming radio checked the previous name stays.
    s.outputName = "ORVSg007.bmp";
    s.outputDigitPos = 7;
    c.namingRadio = 0;
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.outputName, "ORVSg007.bmp");
    EXPECT_EQ(s.outputDigitPos, 7);
}

TEST(Collect, SizeFromThePresetOrTheCustomEditsUncorrected) {
    const ContrastTable table;
    ConversionSettings s;
    SettingsControls c = Controls();
    c.sizeRadio = IDC_SIZE_1280_1024;
    c.widthText = "5";  // ignored for a preset
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.width, 1280);
    EXPECT_EQ(s.height, 1024);

    c.sizeRadio = IDC_SIZE_CUSTOM;
    c.widthText = "";
    c.heightText = "1024";
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.width, 0);
    EXPECT_EQ(s.height, 1024);

    c.sizeRadio = 0;  // nothing checked counts as custom
    c.widthText = "1280";
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.width, 1280);
    EXPECT_EQ(s.height, 1024);

    for (const SizePreset& p : kSizePresets) {
        c.sizeRadio = p.radioId;
        CollectSettings(c, table, &s);
        EXPECT_EQ(s.width * 1000 + s.height, p.width * 1000 + p.height);
    }

    // The crop box goes along with the size, both ways.
    for (const bool crop : {true, false, true}) {
        c.cropToAspect = crop;
        CollectSettings(c, table, &s);
        EXPECT_EQ(s.cropToAspect, crop);
    }
}

TEST(Collect, ColourModesAndExponent) {
    const ContrastTable table;
    ConversionSettings s;
    SettingsControls c = Controls();
    const struct {
        int radio, mode;
    } cases[] = {{270, 1}, {271, 5}, {272, 4}, {273, 9}, {274, 8}, {275, 16}, {276, 24}, {0, 24}};
    for (const auto& m : cases) {
        c.colorRadio = m.radio;
        CollectSettings(c, table, &s);
        EXPECT_EQ(s.colorMode, m.mode) << m.radio;
    }
    c.contrastPosition = 0;
    CollectSettings(c, table, &s);
    EXPECT_DOUBLE_EQ(s.exponent, 0.4);
    c.contrastPosition = 128;
    CollectSettings(c, table, &s);
    EXPECT_EQ(s.exponent, 1.0);
    c.contrastPosition = 256;
    CollectSettings(c, table, &s);
    EXPECT_DOUBLE_EQ(s.exponent, 2.5);
}

}  // namespace
