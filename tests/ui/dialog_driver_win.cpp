#include "tests/ui/dialog_driver_win.h"

#include <cstdio>

#include "ui/win_util_win.h"

DialogDriver* DialogDriver::current = nullptr;

namespace {

constexpr UINT kDialogUp = WM_APP + 1;
constexpr int kMessageText = 0xFFFF;

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool IsMessageBox(HWND window) {
    // Message boxes carry their text in a static with id 0xFFFF; the program's
    // own dialogs all have a control 256, the save dialog its file name box.
    HWND text = GetDlgItem(window, kMessageText);
    return text != nullptr && ClassOf(text) == L"Static" && GetDlgItem(window, 256) == nullptr &&
           GetDlgItem(window, 0x47C) == nullptr && GetDlgItem(window, 0x480) == nullptr;
}

UINT IconOf(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (icon == LoadIconW(nullptr, IDI_ERROR)) return MB_ICONERROR;
        if (icon == LoadIconW(nullptr, IDI_INFORMATION)) return MB_ICONINFORMATION;
        if (icon == LoadIconW(nullptr, IDI_QUESTION)) return MB_ICONQUESTION;
        if (icon == LoadIconW(nullptr, IDI_WARNING)) return MB_ICONWARNING;
    }
    return 0;
}

}  // namespace

std::string Text(HWND dialog, int id) {
    wchar_t buffer[1024] = {};
    GetDlgItemTextW(dialog, id, buffer, 1024);
    return Utf8(buffer);
}

std::string Caption(HWND window) {
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    return Utf8(caption);
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds) return false;
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return done();
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    return true;
}

DialogDriver::DialogDriver() {
    current = this;
    WNDCLASSW wc{};
    wc.lpfnWndProc = HelperProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TavrelTestHelper";
    RegisterClassW(&wc);  // fails harmlessly when already registered
    helper_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
    hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterMessage, nullptr, GetCurrentThreadId());
}

DialogDriver::~DialogDriver() {
    UnhookWindowsHookEx(hook_);
    DestroyWindow(helper_);
    current = nullptr;
}

// A dialog (or message box) has finished its WM_INITDIALOG. The posted note
// is taken up by the dialog's own modal loop, once the dialog is shown.
LRESULT CALLBACK DialogDriver::AfterMessage(int code, WPARAM wParam, LPARAM lParam) {
    const auto* m = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && current != nullptr && m->message == WM_INITDIALOG &&
        (GetWindowLongW(m->hwnd, GWL_STYLE) & WS_CHILD) == 0 && ClassOf(m->hwnd) == L"#32770") {
        PostMessageW(current->helper_, kDialogUp, 0, reinterpret_cast<LPARAM>(m->hwnd));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void DialogDriver::RecordBox(HWND window) {
    RecordedBox box;
    box.text = Text(window, kMessageText);
    box.caption = Caption(window);
    box.icon = IconOf(window);
    for (int id = IDOK; id <= IDNO; ++id) {
        if (GetDlgItem(window, id) != nullptr) box.buttons.push_back(id);
    }
    // The default button: the one drawn as default, or else the one with the focus.
    box.defaultButton = LOWORD(SendMessageW(window, DM_GETDEFID, 0, 0));
    for (int id : box.buttons) {
        if ((GetWindowLongW(GetDlgItem(window, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            box.defaultButton = id;
        }
    }
    if (HWND focus = GetFocus(); focus != nullptr && GetParent(focus) == window) {
        box.focusButton = GetDlgCtrlID(focus);
    }
    box.owner = GetWindow(window, GW_OWNER);
    boxes.push_back(box);
}

LRESULT CALLBACK DialogDriver::HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogDriver* d = current;
    const auto target = reinterpret_cast<HWND>(lParam);
    if (d == nullptr || message != kDialogUp) return DefWindowProcW(window, message, wParam, lParam);
    if (!IsWindow(target)) return 0;
    if (GetEnvironmentVariableW(L"TAVREL_DRIVER_TRACE", nullptr, 0) > 0) {
        std::printf("dialog up: %s\n", Caption(target).c_str());
    }
    if (IsMessageBox(target)) {
        d->RecordBox(target);
        if (d->whileBoxOpen) d->whileBoxOpen(target);
        int answer = d->boxes.back().buttons.empty() ? IDOK : d->boxes.back().buttons.front();
        if (!d->answers.empty()) {
            answer = d->answers.front();
            d->answers.pop_front();
        }
        PostMessageW(target, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(target, answer)));
        return 0;
    }
    if (d->scripts.empty()) {
        // Nothing planned for this dialog: close it so the test cannot hang.
        ++d->unexpectedDialogs;
        PostMessageW(target, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    auto script = std::move(d->scripts.front());
    d->scripts.pop_front();
    script(target);
    return 0;
}
