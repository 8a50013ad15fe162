// Replays files through a fuzz target without libFuzzer: every build runs the
// seed corpus and the saved crash inputs this way.
//   replay PATH...   each PATH a file or a folder (searched recursively)
// Files are run in name order. Fails when a path is missing or when there is
// nothing to run, so a lost corpus cannot pass unnoticed; a broken
// expectation aborts, naming the file on the line before.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "tests/fuzz/fuzz_support.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = fs::u8path(argv[i]);
        std::error_code ec;
        if (fs::is_regular_file(path, ec)) {
            files.push_back(path);
        } else if (fs::is_directory(path, ec)) {
            for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
                if (it->is_regular_file(ec)) files.push_back(it->path());
            }
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
            return 2;
        }
        if (ec) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        const std::string name = file.u8string();
        std::fprintf(stderr, "%s\n", name.c_str());
        const std::vector<std::uint8_t> bytes = fuzz::ReadFile(name);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
