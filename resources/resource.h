// Identifiers shared by the dialog templates and the program.
#pragma once

// Dialog templates.
#define IDD_ABOUT 128
#define IDD_SETTINGS 129
#define IDD_DRIVE 130
#define IDD_PROGRESS 131

// Settings dialog.
#define IDC_PREVIEW 256
#define IDC_CONTRAST 257
#define IDC_EXPONENT 258
#define IDC_SIZE_640 259
#define IDC_SIZE_800 260
#define IDC_SIZE_1024 261
#define IDC_SIZE_1152 262
#define IDC_SIZE_1280_960 263
#define IDC_SIZE_1280_1024 264
#define IDC_SIZE_1600_900 265
#define IDC_SIZE_1600_1200 266
#define IDC_SIZE_CUSTOM 267
#define IDC_CUSTOM_WIDTH 268
#define IDC_CUSTOM_HEIGHT 269
#define IDC_MODE_MONO 270
#define IDC_MODE_GRAY16 271
#define IDC_MODE_SYSTEM16 272
#define IDC_MODE_GRAY256 273
#define IDC_MODE_COLOR256 274
#define IDC_MODE_HIGH 275
#define IDC_MODE_FULL 276
#define IDC_PICTURE_FIRST 277
#define IDC_PICTURE_LAST 281
#define IDC_NAME_SHORT 282
#define IDC_NAME_LONG 283
#define IDC_NAME_EACH 284
#define IDC_DRIVE_TEXT 285
#define IDC_DRIVE_SELECT 286
#define IDC_DEFAULTS 287
#define IDC_ABOUT 288
#define IDC_CROP_TO_ASPECT 289

// Progress dialog.
#define IDC_STATUS_LINE 256
#define IDC_PROGRESS_BAR 257
#define IDC_PERCENT 258
#define IDC_COMMENT 259
#define IDC_IN_DRIVE 260
#define IDC_OUT_DIR 261
#define IDC_OUT_FILE 262
#define IDC_OUT_SIZE 263
#define IDC_AUTO_CLOSE 264
#define IDC_SET_WALLPAPER 265

// Drive selection dialog: one radio button per drive letter, A: first.
#define IDC_DRIVE_FIRST 256
#define IDC_DRIVE_LAST 281
#define IDC_DRIVE_FOLDER 282

// About box.
#define IDC_ABOUT_TITLE 256
#define IDC_ABOUT_NOTICE 257
