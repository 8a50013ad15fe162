// Part of the test build of the tool only (tavrel_read_faults): before main
// runs, TAVREL_TEST_READ_LIMIT=bytes sets the read limit of the file layer
// with faults, so that the tool reads its pictures as from a scratched disc.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/platform/file_faults.h"

namespace {

const bool kLimitSet = [] {
    const char* value = std::getenv("TAVREL_TEST_READ_LIMIT");
    if (value == nullptr) return false;
    char* end = nullptr;
    const unsigned long long bytes = std::strtoull(value, &end, 10);
    if (*value == '\0' || *end != '\0') {
        std::fprintf(stderr, "TAVREL_TEST_READ_LIMIT is not a byte count: %s\n", value);
        std::exit(70);
    }
    file_faults::LimitReads(bytes);
    return true;
}();

}  // namespace
