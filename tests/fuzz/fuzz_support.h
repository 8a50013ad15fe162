// What the fuzz targets share: the libFuzzer entry point (also called by the
// replay program), a per-process scratch folder for the files the engine
// reads and writes, and a check that reports a broken expectation as a crash,
// so that libFuzzer keeps the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

// A folder of this process's own below the system's temporary folder, made on
// first use. Paths are UTF-8 and plain ASCII.
const std::string& ScratchDir();

// Writes the bytes to the file, replacing it; aborts when that fails (a fuzz
// run on a broken disk says nothing about the engine).
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// The whole file, or an empty vector when it cannot be read.
std::vector<std::uint8_t> ReadFile(const std::string& path);

bool Exists(const std::string& path);

// Prints the broken expectation and aborts.
[[noreturn]] void Fail(const char* file, int line, const char* what);

}  // namespace fuzz

#define FUZZ_CHECK(condition)                                            \
    do {                                                                 \
        if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition); \
    } while (false)
