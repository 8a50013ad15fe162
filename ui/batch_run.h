// The batch run: converts the chosen pictures one after another, a few
// milliseconds of output rows per timer tick, and reports every notice and
// failure. The progress dialog is a thin view over it; everything it decides
// is here.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/limits.h"
#include "engine/wp_convert.h"
#include "ui/records.h"

// What the size correction did.
enum class SizeNotice { kNone, kTooSmall, kTooLarge, kAspect };

// Forces the size into 200 x 150 ... 3200 x 2400 and to 4:3, in place.
SizeNotice CorrectSize(int* width, int* height);
// The size of a wallpaper cropped to its own proportions, in place: at least
// 200 x 150, and a longer side over 7680 brings both sides down by the same
// factor (rounded down) until it is 7680. Any proportions pass.
SizeNotice CorrectCropSize(int* width, int* height);
// The notice's text and caption (UTF-8); empty for kNone.
std::string SizeNoticeText(SizeNotice notice, int width, int height);
const char* SizeNoticeCaption(SizeNotice notice);

// Writes the two decimal digits of picture `number` into `path`: the tens
// digit just before `digitPos`, the units digit at it.
void FillPictureNumber(std::string* path, int digitPos, int number);

// A name chosen in the save dialog, with ".bmp" appended unless it already
// ends in ".bmp" or ".BMP"; nothing for an empty name.
std::optional<std::string> WithBitmapExtension(const std::string& name);

// Percent of the rows written, rounded down; 100 only when all are written.
unsigned ProgressPercent(std::uint32_t linesDone, std::uint32_t height);
// File size in kilobytes, rounded half up.
std::uint32_t Kilobytes(std::uint32_t bytes);
// Bytes of a comment to show: up to its terminator, at most its 128 bytes.
std::size_t CommentLength(const std::uint8_t* comment);

enum class MessageIcon { kInformation, kError, kQuestion };

// What the batch run needs from its dialog.
class BatchView {
public:
    // A message box with a single OK button.
    virtual void Notify(const std::string& message, const char* caption, MessageIcon icon) = 0;
    // A Yes/No question, No by default; true for Yes.
    virtual bool AskYesNo(const char* message, const char* caption) = 0;
    // Runs the save dialog, starting from `*fullPath`. On success returns the
    // chosen file's name (without folder), stores the full path in `*fullPath`
    // and makes the chosen folder the current directory.
    virtual std::optional<std::string> RunSaveDialog(std::string* fullPath) = 0;
    virtual std::string CurrentDirectory() = 0;
    // The system's words for one of its error codes (errno; GetLastError on
    // Windows).
    virtual std::string SystemReason(int error) = 0;

    struct PictureInfo {
        const std::uint8_t* comment;  // kCommentSize bytes, terminated or not
        std::string source;           // "D:", or the folder of the pictures
        std::string directory;
        std::string fileName;
        std::uint32_t kilobytes;
    };
    virtual void ShowPictureInfo(const PictureInfo& info) = 0;
    virtual void ShowPercent(unsigned percent) = 0;
    // The run is over; `lastWritten` is the full path of the last picture
    // it wrote whole, empty when it wrote none.
    virtual void ShowFinished(const std::string& lastWritten) = 0;

protected:
    ~BatchView() = default;
};

class BatchRun {
public:
    enum class Tick { kIgnored, kGoesOn, kFinished };

    // Starts a run with the settings: the first chosen picture is begun and its
    // first row written. False when there is nothing to run (no picture, or a
    // failure already reported); the dialog then closes at once.
    bool Start(BatchView& view);
    // One timer tick: output rows until `tickBudget` has passed (at least
    // one), then the percentage; the next picture after a picture's last row.
    // kFinished: the run is over and the view shows it; ticks do nothing more.
    Tick OnTick(BatchView& view);
    // The user aborts: the picture in hand is dropped, and a file of its
    // name stays as it was.
    void Abort(BatchView& view);
    // The dialog closes: the job in hand (if any) is destroyed, which closes
    // its files, and its unfinished output goes.
    void Close();

    // State, kept between runs.
    int pictureIndex = 0;
    std::unique_ptr<WPConvert> currentJob;
    int timerRunning = 0;
    int stepAllowed = 0;
    int requestedWidth = 0;
    int requestedHeight = 0;
    // The picture in hand is written under this name beside its output and
    // takes the output's name only once it is whole, so that a failure or an
    // abort never costs the file it was to replace (the user's wallpaper,
    // say). Empty while no output is being written. The job borrows it.
    std::string temporaryPath;
    // The directory the picture in hand is written to (the current directory
    // when it began), and the full path of the last picture this run wrote
    // whole, for "壁紙に設定".
    std::string outputDirectory;
    std::string lastWritten;

    // Creates a job; replaceable so that a failing allocation can be tried.
    std::unique_ptr<WPConvert> (*makeJob)() = [] { return std::make_unique<WPConvert>(); };

    // How long one tick may convert. The timer ticks every 10 ms (about 16 ms
    // on Windows' default clock), so 8 ms of rows per tick keep the dialog
    // answering at once while a wallpaper takes a fraction of a second; one
    // row per tick made a 1920 x 1080 picture take 11 seconds.
    std::chrono::nanoseconds tickBudget = std::chrono::milliseconds(8);
    // A monotonic clock; replaceable so that tests decide how long rows take.
    std::function<std::chrono::nanoseconds()> clock = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    };

private:
    int StartNextPicture(BatchView& view);
    int PreparePicture(BatchView& view, int number);
    // 1: a name was chosen; 0: the save dialog was cancelled or gave an
    // empty name; 2: the name was the picture's own input, and said so.
    int ChooseSaveName(BatchView& view);
    // Gives the finished picture its name; false (said) when that fails.
    bool CommitPicture(BatchView& view);
    // Destroys the job in hand and deletes its unfinished output.
    void DropPicture();
    void ShowInfo(BatchView& view);
    unsigned ShowProgress(BatchView& view);
};

extern BatchRun batchRun;
