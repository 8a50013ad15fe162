// Times batch runs through the real dialogs, as a user makes them: starts
// Tavrel.exe, chooses the pictures and a custom size, names the files
// "ORVSg0??.bmp", clicks "変換開始" and waits for "完了しました。", answering
// every notice with OK. Prints one line per run, then the median.
//   batch_bench TAVREL.EXE WIDTHxHEIGHT PICTURES [RUNS]
// PICTURES lists picture numbers, for example 6,7,8,9,10. A figure, never a
// verdict: the exit status only says whether the runs could be made.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/utf8_win.h"
#include "resources/resource.h"
#include "bench/program_driver_win.h"

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "batch_bench: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int width = 0, height = 0;
    if (argc < 4 || std::sscanf(argv[2], "%dx%d", &width, &height) != 2) {
        return Fail("usage: batch_bench TAVREL.EXE WIDTHxHEIGHT PICTURES [RUNS]");
    }
    std::vector<int> pictures;
    for (const char* p = argv[3]; *p != '\0';) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p || n < 6 || n > 10) return Fail("pictures are numbers from 6 to 10");
        pictures.push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
    }
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;

    remote::Program program(platform::Utf8ToWide(argv[1]));
    if (!program.Started()) return Fail("the program did not start");
    HWND settings = program.WaitForDialog("設定");
    if (settings == nullptr) return Fail("no settings dialog");
    remote::Click(settings, IDC_SIZE_CUSTOM);
    SetDlgItemTextW(settings, IDC_CUSTOM_WIDTH, std::to_wstring(width).c_str());
    SetDlgItemTextW(settings, IDC_CUSTOM_HEIGHT, std::to_wstring(height).c_str());
    remote::Click(settings, IDC_NAME_SHORT);
    for (int n : pictures) remote::Click(settings, IDC_PICTURE_FIRST + n - 6);
    // Left as the program sets it: only programs that have the box crop.
    const bool crop = GetDlgItem(settings, IDC_CROP_TO_ASPECT) != nullptr &&
                      remote::Checked(settings, IDC_CROP_TO_ASPECT);

    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        const remote::Program::Batch batch = program.RunBatch(settings, 600000);
        if (!batch.finished) return Fail("the run did not finish");
        seconds.push_back(batch.seconds);
        std::printf("%dx%d, %zu pictures, %s: run %d %.3f s", width, height, pictures.size(),
                    crop ? "cropped" : "made 4:3", run + 1, batch.seconds);
        for (const auto& box : batch.boxes) std::printf(" [%s]", box.first.c_str());
        std::printf("\n");
        std::fflush(stdout);
        remote::PostClick(batch.progress, IDOK);
        for (int i = 0; i < 500 && IsWindow(batch.progress); ++i) Sleep(10);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("median %.3f s\n", seconds[seconds.size() / 2]);
    remote::PostClick(settings, IDCANCEL);
    return program.WaitForExit(20000) == 0 ? 0 : Fail("the program did not end");
}
