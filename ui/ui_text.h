// Texts the program shows in message boxes and fields (UTF-8). The texts of
// the dialog templates themselves live in the resource script. Texts that
// name the disc's pictures or the program's limits are built from them.
#pragma once

#include <string>

namespace text {

inline constexpr char kProductTitle[] = "Tavrel";
// Two lines: the About box shows the first in a field and the second as a label.
inline constexpr char kLegalNotice[] =
    "Copyright (C) 2024 the Tavrel authors\nAll rights reserved.";

// Start-up.
inline constexpr char kNoDrive[] = "有効なCDドライブが検出できませんでした。";
inline constexpr char kNoDriveCaption[] = "CDドライブ検出失敗";
// No drive holds the disc: the program asks for a folder instead of ending.
std::string NoDriveAskFolder();

// The source of the pictures: a folder, or a path the program is given.
inline constexpr char kPickFolderTitle[] = "画像の入ったフォルダの選択";
// Neither the chosen folder nor its Extends folder holds a picture.
std::string FolderHasNoPictures();
inline constexpr char kFolderCaption[] = "フォルダの選択";
// A path given to the program that is neither a folder of pictures nor an
// RQ6 file.
std::string PathNotUsable(const std::string& path);
inline constexpr char kPathCaption[] = "入力元の指定";

// Settings dialog.
inline constexpr char kNoMemory[] = "メモリの確保に失敗しました。";
inline constexpr char kNoMemoryCaption[] = "Memory Allocate Error";
inline constexpr char kUnexpected[] = "予期せぬエラーが発生しました。";
inline constexpr char kUnexpectedCaption[] = "Unexpected Error";

// Batch run.
inline constexpr char kFinished[] = "完了しました。";
// printf format: the smallest width and height.
inline constexpr char kTooSmallFormat[] =
    "出力画像が小さすぎますので、次の通り\n修正します。\n  幅 : %d Pixel / 高さ : %d Pixel";
// printf format: the corrected width and height.
inline constexpr char kTooLargeFormat[] =
    "出力画像が大きすぎますので、次の通り\n修正します。\n  幅 : %d Pixel / 高さ : %d Pixel";
inline constexpr char kSizeCaption[] = "縦横修正の通知";
// printf format: the corrected width and height.
inline constexpr char kAspectFormat[] =
    "出力画像の縦横比は、4:3でなくては\nなりませんので、次の通り修正します。\n  幅 : %d Pixel / "
    "高さ : %d Pixel";
inline constexpr char kAspectCaption[] = "縦横比修正の通知";
inline constexpr char kInitFailed[] = "初期化に失敗しました。";
inline constexpr char kInitFailedCaption[] = "エラー";
inline constexpr char kGiveUpNaming[] = "処理を中止しますか？";
inline constexpr char kGiveUpNamingCaption[] = "保存ファイル名選択拒否";
inline constexpr char kOutputIsInput[] =
    "入力ファイルと同じファイルには保存できません。\n別のファイル名を指定してください。";
inline constexpr char kOutputIsInputCaption[] = "保存ファイル名エラー";
inline constexpr char kBeginErrorCaption[] = "変換開始エラー";
inline constexpr char kConvertErrorCaption[] = "変換エラー";
inline constexpr char kAborted[] = "処理を中断しました。";
inline constexpr char kAbortedCaption[] = "処理の中止";
inline constexpr char kSaveTitle[] = "保存ファイル名の指定";
inline constexpr char kSaveFilterName[] = "Bitmap Image";
inline constexpr char kSaveFilterPattern[] = "*.bmp";
inline constexpr char kWallpaperSet[] = "壁紙に設定しました。";
inline constexpr char kWallpaperFailed[] = "壁紙に設定できませんでした。";
inline constexpr char kWallpaperCaption[] = "壁紙の設定エラー";

}  // namespace text
