#include "formats/translation.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace msg {

namespace {

// Set once at start-up, read by whichever thread reports a problem.
std::atomic<Translator> translator{nullptr};

}  // namespace

void SetTranslator(Translator t) { translator.store(t); }

const char* Tr(const char* english) {
    const Translator t = translator.load();
    return t ? t(english) : english;
}

std::string Format(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

std::string SystemReason(int error) { return std::strerror(error); }

}  // namespace msg
