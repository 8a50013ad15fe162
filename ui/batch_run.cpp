#include "ui/batch_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/conversion_status.h"
#include "engine/disc_pictures.h"
#include "platform/file_io.h"
#include "platform/temporary_file.h"
#include "ui/picture_folder.h"
#include "ui/ui_text.h"

BatchRun batchRun;

namespace {

constexpr int kMinWidth = 200;
constexpr int kMinHeight = 150;
constexpr int kMaxWidth = 3200;
constexpr int kMaxHeight = 2400;
// A cropped wallpaper is made for the screen it will cover, of any shape; its
// longer side stops at the width of the largest screens sold (8K, 7680 x
// 4320), whose 24-bit bitmap is 100 MB.
constexpr std::int64_t kMaxCropSide = 7680;

// A save name that is the picture's own input (a link to it, say) cannot take
// the output: the job refuses it rather than empty the picture it reads, and
// its message would blame the disk. Said here instead, before anything is
// opened; the save dialog then comes back for another name.
bool IsOwnInput(BatchView& view, const std::string& name) {
    if (!platform::SameFile(conversionSettings.inputPath.c_str(), name.c_str())) return false;
    view.Notify(text::kOutputIsInput, text::kOutputIsInputCaption, MessageIcon::kError);
    return true;
}

}  // namespace

SizeNotice CorrectSize(int* width, int* height) {
    const int w = *width;
    const int h = *height;
    if (w < kMinWidth || h < kMinHeight) {
        *width = kMinWidth;
        *height = kMinHeight;
        return SizeNotice::kTooSmall;
    }
    // Too large in one direction only is left to the 4:3 step, whose result
    // is then within the limits anyway.
    if (w > kMaxWidth && h > kMaxHeight) {
        *width = kMaxWidth;
        *height = kMaxHeight;
        return SizeNotice::kTooLarge;
    }
    const unsigned u = std::min(static_cast<unsigned>(w) / 4, static_cast<unsigned>(h) / 3);
    *width = static_cast<int>(4 * u);
    *height = static_cast<int>(3 * u);
    return *width == w && *height == h ? SizeNotice::kNone : SizeNotice::kAspect;
}

SizeNotice CorrectCropSize(int* width, int* height) {
    const std::int64_t w = *width;
    const std::int64_t h = *height;
    if (w < kMinWidth || h < kMinHeight) {
        *width = kMinWidth;
        *height = kMinHeight;
        return SizeNotice::kTooSmall;
    }
    const std::int64_t longer = std::max(w, h);
    if (longer <= kMaxCropSide) return SizeNotice::kNone;
    // Both sides by the same factor, in 64 bits (sides up to INT_MAX); the
    // short side of a very thin request stays at the smallest size.
    const std::int64_t newW = std::max<std::int64_t>(w * kMaxCropSide / longer, kMinWidth);
    const std::int64_t newH = std::max<std::int64_t>(h * kMaxCropSide / longer, kMinHeight);
    *width = static_cast<int>(newW);
    *height = static_cast<int>(newH);
    return SizeNotice::kTooLarge;
}

std::string SizeNoticeText(SizeNotice notice, int width, int height) {
    const char* format = nullptr;
    switch (notice) {
        case SizeNotice::kTooSmall:
            // Every size too small becomes the smallest one, and the notice
            // names it.
            format = text::kTooSmallFormat;
            width = kMinWidth;
            height = kMinHeight;
            break;
        case SizeNotice::kTooLarge: format = text::kTooLargeFormat; break;
        case SizeNotice::kAspect: format = text::kAspectFormat; break;
        case SizeNotice::kNone: return {};
    }
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, width, height);
    return buffer;
}

const char* SizeNoticeCaption(SizeNotice notice) {
    return notice == SizeNotice::kAspect ? text::kAspectCaption : text::kSizeCaption;
}

void FillPictureNumber(std::string* path, int digitPos, int number) {
    if (digitPos < 1 || static_cast<std::size_t>(digitPos) >= path->size()) return;
    const auto at = static_cast<std::size_t>(digitPos);
    (*path)[at - 1] = static_cast<char>('0' + number / 10);
    (*path)[at] = static_cast<char>('0' + number % 10);
}

std::optional<std::string> WithBitmapExtension(const std::string& name) {
    if (name.empty()) return std::nullopt;
    // A name of four characters or fewer gets the extension even when it is
    // ".bmp" itself: that is a name with nothing before the dot.
    if (name.size() <= 4) return name + ".bmp";
    const std::string tail = name.substr(name.size() - 4);
    if (tail == ".bmp" || tail == ".BMP") return name;
    return name + ".bmp";
}

unsigned ProgressPercent(std::uint32_t linesDone, std::uint32_t height) {
    if (height == 0) return 100;
    return static_cast<unsigned>(static_cast<std::uint64_t>(linesDone) * 100 / height);
}

std::uint32_t Kilobytes(std::uint32_t bytes) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(bytes) + 512) / 1024);
}

std::size_t CommentLength(const std::uint8_t* comment) {
    const void* end = std::memchr(comment, 0, limits::kCommentSize);
    return end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - comment)
               : limits::kCommentSize;
}

bool BatchRun::Start(BatchView& view) {
    pictureIndex = 0;
    lastWritten.clear();
    timerRunning = 0;
    stepAllowed = 0;
    if (StartNextPicture(view) != 0) return false;
    stepAllowed = 1;
    return true;
}

int BatchRun::StartNextPicture(BatchView& view) {
    const ConversionSettings& s = conversionSettings;
    while (pictureIndex < disc::kPictureCount && (s.imageMask & (1u << pictureIndex)) == 0) {
        ++pictureIndex;
    }
    ++pictureIndex;
    if (pictureIndex > disc::kPictureCount) return 1;
    if (PreparePicture(view, pictureIndex + disc::kFirstPicture - 1) != 0) return 1;
    ShowInfo(view);
    const std::uint32_t status = currentJob->ConvertFirstLine();
    if (status == kStatusOk) return 0;
    view.Notify(StatusMessage(status), text::kConvertErrorCaption, MessageIcon::kError);
    DropPicture();
    return 1;
}

int BatchRun::PreparePicture(BatchView& view, int number) {
    ConversionSettings& s = conversionSettings;
    requestedWidth = s.width;
    requestedHeight = s.height;
    // The corrected size stays in the settings, so later pictures of the run
    // pass unchanged and the notice comes once, before the first picture.
    const SizeNotice notice =
        s.cropToAspect ? CorrectCropSize(&s.width, &s.height) : CorrectSize(&s.width, &s.height);
    if (notice != SizeNotice::kNone) {
        view.Notify(SizeNoticeText(notice, s.width, s.height), SizeNoticeCaption(notice),
                    MessageIcon::kInformation);
    }

    DropPicture();
    try {
        currentJob = makeJob();
    } catch (...) {
        currentJob.reset();
    }
    if (!currentJob) {
        view.Notify(text::kInitFailed, text::kInitFailedCaption, MessageIcon::kError);
        return 1;
    }

    if (!pictureSource.folder.empty()) {
        s.inputPath = FolderPicturePath(pictureSource.folder, number);
    } else {
        if (!s.inputPath.empty() && driveTable.selected < kDriveCount) {
            s.inputPath[0] = static_cast<char>('A' + driveTable.selected);
        }
        FillPictureNumber(&s.inputPath, s.inputDigitPos, number);
    }
    if (s.outputDigitPos > 0) {
        FillPictureNumber(&s.outputName, s.outputDigitPos, number);
    } else {
        int chosen = 0;
        while ((chosen = ChooseSaveName(view)) != 1) {
            // A refused name has been explained and asks for another at once;
            // giving up is offered after a cancel. The unbegun job stays until
            // the next picture is prepared or the dialog closes; it holds no
            // file.
            if (chosen == 0 && view.AskYesNo(text::kGiveUpNaming, text::kGiveUpNamingCaption)) {
                return 1;
            }
        }
    }

    // A pattern name that is the picture itself (a link to it in the output
    // folder) would lose the picture when the output takes its name.
    std::uint32_t status = platform::SameFile(s.inputPath.c_str(), s.outputName.c_str())
                               ? kStatusOutputNotCreated
                               : kStatusOk;
    if (status == kStatusOk) {
        // Cropped, the job converts the largest centred part of the picture
        // with the output's proportions, as `tavrel convert --fit cover` does.
        currentJob->coverOutput = s.cropToAspect;
        temporaryPath = platform::TemporaryPathBeside(s.outputName);
        status = currentJob->Begin(s.inputPath.c_str(), temporaryPath.c_str(), s.exponent,
                                   static_cast<std::uint32_t>(s.width),
                                   static_cast<std::uint32_t>(s.height),
                                   static_cast<std::uint32_t>(s.colorMode));
    }
    if (status != kStatusOk) {
        view.Notify(StatusMessage(status), text::kBeginErrorCaption, MessageIcon::kError);
        DropPicture();
        return 1;
    }
    return 0;
}

bool BatchRun::CommitPicture(BatchView& view) {
    // The job closes the file when it goes; only a closed file can be renamed
    // on Windows.
    currentJob.reset();
    const int error = platform::ReplaceWithTemporary(temporaryPath, conversionSettings.outputName);
    if (error == 0) {
        temporaryPath.clear();
        lastWritten = JoinPath(outputDirectory, conversionSettings.outputName);
        return true;
    }
    view.Notify(
        std::string(StatusMessage(kStatusOutputNotCreated)) + "\n" + view.SystemReason(error),
        text::kConvertErrorCaption, MessageIcon::kError);
    DropPicture();
    return false;
}

void BatchRun::DropPicture() {
    currentJob.reset();
    if (!temporaryPath.empty()) platform::Remove(temporaryPath.c_str());
    temporaryPath.clear();
}

int BatchRun::ChooseSaveName(BatchView& view) {
    ConversionSettings& s = conversionSettings;
    const std::optional<std::string> title = view.RunSaveDialog(&s.outputPath);
    if (!title) return 0;
    const std::optional<std::string> name = WithBitmapExtension(*title);
    if (!name) return 0;
    if (IsOwnInput(view, *name)) return 2;
    s.outputName = *name;
    return 1;
}

void BatchRun::ShowInfo(BatchView& view) {
    BatchView::PictureInfo info;
    info.comment = currentJob->comment;
    info.source = SourceText(pictureSource, driveTable.selected);
    outputDirectory = view.CurrentDirectory();
    info.directory = outputDirectory;
    info.fileName = conversionSettings.outputName;
    info.kilobytes = Kilobytes(currentJob->outFileSize);
    view.ShowPictureInfo(info);
    view.ShowPercent(0);
}

unsigned BatchRun::ShowProgress(BatchView& view) {
    const unsigned percent = ProgressPercent(currentJob->linesDone, currentJob->height);
    view.ShowPercent(percent);
    return percent;
}

BatchRun::Tick BatchRun::OnTick(BatchView& view) {
    // Message boxes and the save dialog run nested message loops in which
    // further ticks arrive; they must not step the job.
    if (stepAllowed == 0) return Tick::kIgnored;
    stepAllowed = 0;
    if (!currentJob) {
        view.ShowFinished(lastWritten);
        return Tick::kFinished;
    }

    // Rows until the budget is spent; the clock is read after each row, so a
    // slow row ends the tick however little of the budget was left.
    const std::chrono::nanoseconds start = clock();
    std::uint32_t status = kStatusOk;
    do {
        status = currentJob->ConvertNextLine();
    } while (status == kStatusOk && currentJob->linesDone < currentJob->height &&
             clock() - start < tickBudget);
    if (status != kStatusOk) {
        // A failed job never moves again: report it once, drop its incomplete
        // file, and end the run.
        view.Notify(StatusMessage(status), text::kConvertErrorCaption, MessageIcon::kError);
        DropPicture();
        view.ShowFinished(lastWritten);
        return Tick::kFinished;
    }
    if (ShowProgress(view) < 100 || (CommitPicture(view) && StartNextPicture(view) == 0)) {
        stepAllowed = 1;
        return Tick::kGoesOn;
    }
    view.ShowFinished(lastWritten);
    return Tick::kFinished;
}

void BatchRun::Abort(BatchView& view) {
    stepAllowed = 0;
    view.Notify(text::kAborted, text::kAbortedCaption, MessageIcon::kInformation);
    DropPicture();
}

void BatchRun::Close() {
    stepAllowed = 0;
    DropPicture();
}
