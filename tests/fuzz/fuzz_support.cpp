#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define TAVREL_GETPID _getpid
#else
#include <unistd.h>
#define TAVREL_GETPID getpid
#endif

namespace fuzz {

const std::string& ScratchDir() {
    // One folder per process: parallel fuzzing jobs and the replay suites of
    // several builds must not overwrite each other's files. Never destroyed,
    // so that the exit handler that removes the folder can still name it.
    static const std::string* const dir = [] {
        std::error_code ec;
        const auto path = std::filesystem::temp_directory_path(ec) /
                          ("tavrel-fuzz-" + std::to_string(TAVREL_GETPID()));
        std::filesystem::create_directories(path, ec);
        if (ec) {
            std::fprintf(stderr, "cannot make the scratch folder %s\n", path.string().c_str());
            std::abort();
        }
        return new std::string(path.u8string());
    }();
    // A crashed run leaves a few small files behind; a finished one nothing.
    static const bool cleanup = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(*dir), ignored);
    }) == 0;
    (void)cleanup;
    return *dir;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) Fail(__FILE__, __LINE__, "cannot create a scratch file");
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) Fail(__FILE__, __LINE__, "cannot write a scratch file");
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    std::uint8_t block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) {
        bytes.insert(bytes.end(), block, block + n);
    }
    std::fclose(f);
    return bytes;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::u8path(path), ec);
}

void Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: expectation broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz
