// The settings dialog's decisions, kept apart from the controls so that they
// can be checked on their own: defaults from the screen mode, the contrast
// trackbar's steps, and the gathering of the controls into ConversionSettings.
#pragma once

#include <optional>
#include <string>

#include "engine/disc_pictures.h"
#include "engine/gamma_table.h"
#include "ui/records.h"

// Size radio buttons 259 ... 266 and their sizes; 267 is the custom size.
struct SizePreset {
    int radioId;
    int width;
    int height;
};
inline constexpr int kSizePresetCount = 8;
extern const SizePreset kSizePresets[kSizePresetCount];

inline constexpr char kInputPattern[] = "A:\\Extends\\Sg0??.rq6";
inline constexpr char kShortNamePattern[] = "ORVSg0??.bmp";
inline constexpr char kLongNamePattern[] = "Orvane_Sg0??.bmp";

// What "規定値" puts into the controls for a screen of this mode.
struct ScreenDefaults {
    int sizeRadio;       // 259 ... 267
    bool customEnabled;  // the custom size edits are usable
    std::string widthText;
    std::string heightText;
    int colorRadio;  // 270 ... 276
    int namingRadio;
    // Screens of every shape: the wallpaper is cropped to fit by default.
    bool cropToAspect;
};
ScreenDefaults DefaultsForScreen(int width, int height, int bitsPerPixel);

// The trackbar position after a scroll notification with `code` (the low word
// of WM_HSCROLL's wParam; `thumb` is its high word), or nothing for the codes
// that do not move it (TB_ENDTRACK and beyond).
std::optional<int> TrackbarStep(int code, int position, unsigned thumb);

// "%1.3f": the exponent as the dialog shows it.
std::string FormatExponent(double exponent);

// Decimal text to int as the C library reads it: leading blanks, a sign,
// digits up to the first non-digit, 0 without digits; at most the first 15
// characters count, and values beyond int's range saturate.
int ParseDecimal(const std::string& text);

// Index of the second '?' of a name pattern, -1 without one.
int SecondQuestionMark(const std::string& pattern);

// The state of the settings dialog's controls that a run depends on.
struct SettingsControls {
    bool pictureChecked[disc::kPictureCount] = {};  // Sg006 ... Sg010
    int sizeRadio = 0;                              // first checked of 259 ... 267, 0 for none
    std::string widthText;                          // custom size edits
    std::string heightText;
    int colorRadio = 0;   // checked one of 270 ... 276, 0 for none
    int namingRadio = 0;  // checked one of 282 ... 284, 0 for none
    bool cropToAspect = false;
    int contrastPosition = ContrastTable::kMiddle;
};

// Fills the settings for a run from the controls. A naming choice of none
// leaves the output name and its digit position as they were.
void CollectSettings(const SettingsControls& controls, const ContrastTable& contrast,
                     ConversionSettings* settings);

int ColorModeForRadio(int radioId);
