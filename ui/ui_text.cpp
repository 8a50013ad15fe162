#include "ui/ui_text.h"

#include "engine/disc_pictures.h"

namespace text {

namespace {

// "画像 (Sg006.rq6 ～ Sg010.rq6)": what a folder of pictures holds.
std::string Pictures() {
    return "画像 (" + disc::PictureFileName(disc::kFirstPicture) + " ～ " +
           disc::PictureFileName(disc::kLastPicture) + ")";
}

}  // namespace

std::string NoDriveAskFolder() {
    return std::string(kNoDrive) + "\n" + Pictures() + " の入ったフォルダを選んでください。";
}

std::string FolderHasNoPictures() {
    return std::string("このフォルダにも、その中の ") + disc::kPictureFolder + " フォルダにも、" +
           Pictures() + " がありません。";
}

std::string PathNotUsable(const std::string& path) {
    return path + " は、" + Pictures() + " の入ったフォルダでも RQ6 ファイルでもありません。";
}

}  // namespace text
