#include "bench/program_driver_win.h"

#include "platform/utf8_win.h"

namespace remote {

namespace {

std::string U(const std::wstring& s) { return platform::WideToUtf8(s.c_str()); }

struct Found {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND w, LPARAM p) {
    auto* f = reinterpret_cast<Found*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (pid == f->pid && std::wstring(cls) == L"#32770") f->windows.push_back(w);
    return TRUE;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

std::string Caption(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);  // answered by the other process
    return U(text);
}

std::string ItemText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    SendDlgItemMessageW(dialog, id, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return U(text);
}

void PostClick(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool Checked(HWND dialog, int id) {
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

Program::Program(const std::wstring& exe, const std::wstring& arguments) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    started_ = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &si, &pi_) != FALSE;
}

Program::~Program() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
}

HWND Program::WaitForDialog(const std::string& caption, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        for (HWND w : Dialogs()) {
            if (Caption(w) == caption && IsWindowVisible(w)) return w;
        }
        Sleep(20);
    } while (GetTickCount() - start < milliseconds);
    return nullptr;
}

std::vector<HWND> Program::Dialogs() {
    Found found{pi_.dwProcessId, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

long Program::WaitForExit(DWORD milliseconds) {
    if (WaitForSingleObject(pi_.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
}

Program::Batch Program::RunBatch(HWND settings, DWORD milliseconds) {
    Batch batch;
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    PostClick(settings, IDOK);
    const DWORD ticks = GetTickCount();
    while (!batch.finished && GetTickCount() - ticks < milliseconds) {
        for (HWND w : Dialogs()) {
            if (!IsWindowVisible(w)) continue;
            // A message box: a static text (id 0xFFFF) and no field 256.
            if (GetDlgItem(w, 256) == nullptr && GetDlgItem(w, 0xFFFF) != nullptr) {
                const auto box = std::make_pair(Caption(w), ItemText(w, 0xFFFF));
                if (batch.boxes.empty() || batch.boxes.back() != box) batch.boxes.push_back(box);
                PostMessageW(w, WM_COMMAND, IDOK, 0);
            } else if (Caption(w) == "変換中") {
                batch.progress = w;
                batch.finished = ItemText(w, 256) == "完了しました。";
            }
        }
        if (!batch.finished) Sleep(5);
    }
    QueryPerformanceCounter(&now);
    batch.seconds = Seconds(start, now);
    return batch;
}

}  // namespace remote
