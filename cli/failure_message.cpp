#include "cli/failure_message.h"

#include <cstdio>

#include "cli/messages.h"
#include "engine/conversion_status.h"

namespace command {

namespace {

using msg::Format;
using msg::Tr;
using msg::TrIn;

using msg::Line;

}  // namespace

bool IsOutputFailure(std::uint32_t status) {
    return status == kStatusOutputNotCreated || status == kStatusWriteFailed;
}

std::string FailureMessage(const std::string& path, std::uint32_t status,
                           const std::string& reason) {
    const char* p = path.c_str();
    const char* r = reason.c_str();
    const bool why = !reason.empty();
    switch (status) {
        case kStatusOutOfMemory:
            // TRANSLATORS: each status has a message without a reason and one
            // with; the reason is the system's own words (strerror) or one of
            // the tool's messages. The first %s is always the file's path.
            return Line(why ? Format(TrIn("out of memory", "%s: %s"), p, r)
                            : Format(Tr("%s: out of memory"), p));
        case kStatusInputNotOpened:
            return Line(why ? Format(Tr("cannot open %s: %s"), p, r)
                            : Format(Tr("cannot open %s"), p));
        case kStatusOutputNotCreated:
            return Line(why ? Format(Tr("cannot create %s: %s"), p, r)
                            : Format(Tr("cannot create %s"), p));
        case kStatusReadFailed:
            return Line(why ? Format(Tr("cannot read %s: %s"), p, r)
                            : Format(Tr("cannot read %s"), p));
        case kStatusWriteFailed:
            return Line(why ? Format(Tr("cannot write %s: %s"), p, r)
                            : Format(Tr("cannot write %s"), p));
        case kStatusFormatError:
            return Line(why ? Format(TrIn("format error", "%s: %s"), p, r)
                            : Format(Tr("%s: damaged, or not a picture this command reads"), p));
        default:
            return Line(why ? Format(TrIn("unexpected error", "%s: %s"), p, r)
                            : Format(Tr("%s: unexpected error"), p));
    }
}

void ReportFailure(const std::string& path, std::uint32_t status, const std::string& reason) {
    std::fputs(FailureMessage(path, status, reason).c_str(), stderr);
}

std::string SystemReason(int error) { return error != 0 ? msg::SystemReason(error) : ""; }

void Warn(const std::string& path, const std::string& warning) {
    if (!warning.empty()) msg::Say(path + ": " + warning);
}

}  // namespace command
