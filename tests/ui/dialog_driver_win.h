// Drives the program's real dialogs from inside a test, as a user would: each
// dialog that opens gets the next script of a queue, run from the dialog's own
// message loop once the dialog is up; every message box is recorded and
// answered.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

struct RecordedBox {
    std::string text;
    std::string caption;
    UINT icon = 0;             // MB_ICONERROR, MB_ICONINFORMATION, MB_ICONQUESTION or 0
    std::vector<int> buttons;  // IDOK, IDYES, ...
    int defaultButton = 0;
    int focusButton = 0;
    HWND owner = nullptr;
};

class DialogDriver {
public:
    DialogDriver();
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // Scripts for the dialogs that open, in order of opening (message boxes
    // excluded). A script must leave its dialog ended or ending.
    std::deque<std::function<void(HWND)>> scripts;
    // Answers for message boxes in order; a box with no answer left gets its
    // first button (OK).
    std::deque<int> answers;
    std::vector<RecordedBox> boxes;
    // Runs while a box is open (after it has been recorded), e.g. to send ticks.
    std::function<void(HWND)> whileBoxOpen;
    int unexpectedDialogs = 0;

    static DialogDriver* current;

private:
    static LRESULT CALLBACK AfterMessage(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void RecordBox(HWND window);

    HHOOK hook_ = nullptr;
    HWND helper_ = nullptr;
};

// Dispatches messages until `done` holds or `milliseconds` pass; false on timeout.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds);

// Clicks a button the way the mouse does (it sends the command to the dialog).
void Click(HWND dialog, int id);
std::string Text(HWND dialog, int id);
std::string Caption(HWND window);
bool Enabled(HWND dialog, int id);
bool Checked(HWND dialog, int id);
