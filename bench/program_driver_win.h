// Drives the real Tavrel.exe from another process, as a user would: starts
// it, finds its dialogs by caption, clicks, and runs a batch to its end while
// answering every message box. Used by the end-to-end test and the batch
// benchmark.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace remote {

std::string Caption(HWND window);
std::string ItemText(HWND dialog, int id);
// Clicks that may open a modal dialog are posted, so this process never waits
// on the program's nested message loops.
void PostClick(HWND dialog, int id);
void Click(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
bool Checked(HWND dialog, int id);

class Program {
public:
    // `arguments`: the rest of the command line, quoted as it should arrive.
    explicit Program(const std::wstring& exe, const std::wstring& arguments = L"");
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    bool Started() const { return started_; }

    // The program's top-level dialog with this caption, waiting for it to appear.
    HWND WaitForDialog(const std::string& caption, DWORD milliseconds = 20000);
    std::vector<HWND> Dialogs();
    // Exit code once the process has ended, or -1 on timeout.
    long WaitForExit(DWORD milliseconds);

    // What a batch run showed: the message boxes (caption, text) in order,
    // the progress dialog, whether it finished, and the seconds from the
    // click on "変換開始" to the finished status.
    struct Batch {
        std::vector<std::pair<std::string, std::string>> boxes;
        HWND progress = nullptr;
        bool finished = false;
        double seconds = 0;
    };
    // Clicks "変換開始" in the settings dialog and waits for the run to finish,
    // answering each message box with OK.
    Batch RunBatch(HWND settings, DWORD milliseconds = 60000);

private:
    PROCESS_INFORMATION pi_{};
    bool started_ = false;
};

}  // namespace remote
