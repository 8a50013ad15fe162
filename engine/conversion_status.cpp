#include "engine/conversion_status.h"

namespace {
const char* const kMessages[kStatusCount] = {
    "No Error.",
    "メモリが不足しています。",
    "入力ファイルをオープンできませんでした。\nCD-Rが入っているか、或いは汚れていないか、\nチェックしてください。\n",
    "出力ファイルを作成できませんでした。\nディスクの空き容量が充分にあるか、チェックしてください。",
    "入力ファイルからの読み取りに失敗しました。\nCD-Rが汚れていないか、チェックしてください。",
    "出力ファイルへの書き込みに失敗しました。書き込みドライブを検査してください。",
    "入力ファイルのフォーマットエラーです。",
    "予期せぬエラーが発生しました。",
};
}  // namespace

const char* StatusMessage(std::uint32_t status) {
    return kMessages[status < kStatusCount ? status : kStatusUnexpected];
}
