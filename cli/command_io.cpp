#include "cli/command_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/messages.h"
#include "engine/conversion_status.h"
#include "engine/huffman_code.h"
#include "formats/png_io.h"
#include "formats/ppm_io.h"
#include "platform/file_io.h"
#include "platform/temporary_file.h"

namespace command {

namespace {

using msg::Format;
using msg::Tr;
using msg::TrIn;

// The engine reports a status and no more; the reasons below are found by
// trying again what failed, the way the engine tried it.

// Why a file does not open for reading: the file layer opens regular files
// only, and none that another reader holds locked.
std::string OpenReason(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return msg::SystemReason(errno);
    std::string reason;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        reason = msg::SystemReason(EISDIR);
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        reason = Tr("another program is using the file");
    }
    ::close(fd);
    return reason;
}

// Why a file failed to read: read again through the same file layer, it
// either fails (with the system's reason when there is one) or ends.
std::string ReadReason(const std::string& path) {
    const platform::FileHandle file = platform::OpenRead(path.c_str());
    if (file == platform::kInvalidFile) return OpenReason(path);
    static char buffer[1 << 16];
    std::uint32_t got = 0;
    bool ok = true;
    int error = 0;
    do {
        errno = 0;
        ok = platform::Read(file, buffer, sizeof buffer, &got);
        error = errno;  // the POSIX file layer leaves read(2)'s error here
    } while (ok && got == sizeof buffer);
    platform::Close(file);
    if (!ok) return error != 0 ? msg::SystemReason(error) : std::string();
    return Tr("the picture ends early");
}

// Why a temporary file could not be created: the creation tried again.
std::string CreateReason(const std::string& temporary) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? std::string() : msg::SystemReason(errno);
    ::close(fd);
    ::unlink(temporary.c_str());
    return {};
}

// Why writing a temporary file failed: one more byte written at its end
// meets what the last write met (a full disk, a quota, a file too large).
std::string WriteReason(const std::string& temporary) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return {};
    const char byte = 0;
    ssize_t n = 0;
    do {
        n = ::write(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : 0;
    ::close(fd);
    return error != 0 ? msg::SystemReason(error) : std::string();
}

bool IsWhiteSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct Kind {
    const char* name;  // untranslated
    bool packable;     // tavrel pack reads it
};

// What a file that is not an RQ6 file is, from its first bytes; name null
// when it is none of the pictures people mistake for one.
Kind KindOf(const std::uint8_t* h, std::size_t n) {
    if (png_io::HasSignature(h, n)) return {msg::TrLater("a PNG picture"), true};
    if (ppm_io::HasSignature(h, n) && n >= 3 && IsWhiteSpace(h[2]))
        return {h[1] == '6' ? msg::TrLater("a PPM picture") : msg::TrLater("a PGM picture"), true};
    if (n >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF)
        return {msg::TrLater("a JPEG picture"), false};
    if (n >= 6 && std::string(h, h + 6) == "GIF87a") return {msg::TrLater("a GIF picture"), false};
    if (n >= 6 && std::string(h, h + 6) == "GIF89a") return {msg::TrLater("a GIF picture"), false};
    if (n >= 4 && (std::string(h, h + 4) == std::string("II*\0", 4) ||
                   std::string(h, h + 4) == std::string("MM\0*", 4))) {
        return {msg::TrLater("a TIFF picture"), false};
    }
    if (n >= 12 && std::string(h, h + 4) == "RIFF" && std::string(h + 8, h + 12) == "WEBP")
        return {msg::TrLater("a WebP picture"), false};
    if (n >= 18 && h[0] == 'B' && h[1] == 'M') {
        // The size of the info header tells a bitmap from text that starts "BM".
        const std::uint32_t info = h[14] | h[15] << 8 | h[16] << 16 | std::uint32_t{h[17]} << 24;
        if (info == 12 || info == 40 || info == 52 || info == 56 || info == 108 || info == 124)
            return {msg::TrLater("a BMP picture"), false};
    }
    return {nullptr, false};
}

std::string Line(const std::string& text) { return "tavrel: " + text + "\n"; }

// A format error of a file that should have been an RQ6 picture.
std::string FormatErrorMessage(const std::string& path) {
    std::uint8_t head[32] = {};
    std::size_t got = 0;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    }
    const char* p = path.c_str();
    const Kind kind = KindOf(head, got);
    if (kind.name && kind.packable) {
        return Line(Format(Tr("%s is %s, not an RQ6 file; 'tavrel pack %s' makes one."), p,
                           Tr(kind.name), p));
    }
    if (kind.name) {
        return Line(Format(Tr("%s is %s, not an RQ6 file; 'tavrel pack' makes one from a PNG, "
                              "PPM or PGM picture."),
                           p, Tr(kind.name)));
    }
    const bool rq6 = got >= 4 && (head[0] | head[1] << 8 | head[2] << 16 |
                                  std::uint32_t{head[3]} << 24) == kRq6Magic;
    return FailureMessage(path, kStatusFormatError,
                          rq6 ? Tr("a damaged RQ6 file, or a picture beyond the size limits")
                              : Tr("not an RQ6 file"));
}

}  // namespace

std::string TemporaryPath(const std::string& target) {
    return platform::TemporaryPathBeside(target);
}

std::uint32_t Commit(const std::string& temporary, const std::string& target, std::uint32_t status,
                     std::string* reason) {
    if (status == kStatusOk) {
        const int error = platform::ReplaceWithTemporary(temporary, target);
        if (error == 0) return kStatusOk;
        *reason = msg::SystemReason(error);
        status = kStatusOutputNotCreated;
    } else if (reason->empty() && status == kStatusOutputNotCreated) {
        *reason = CreateReason(temporary);
    } else if (reason->empty() && status == kStatusWriteFailed) {
        *reason = WriteReason(temporary);
    }
    platform::Remove(temporary.c_str());
    return status;
}

std::uint64_t FileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

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

std::string Rq6FailureMessage(const std::string& path, std::uint32_t status) {
    switch (status) {
        case kStatusInputNotOpened:
            return FailureMessage(path, status, OpenReason(path));
        case kStatusReadFailed:
            return FailureMessage(path, status, ReadReason(path));
        case kStatusFormatError:
            return FormatErrorMessage(path);
        default:
            return FailureMessage(path, status);
    }
}

std::uint32_t ReportRq6Failure(const std::string& path, std::uint32_t status) {
    std::fputs(Rq6FailureMessage(path, status).c_str(), stderr);
    return status;
}

std::uint32_t Finish(const std::string& input, const std::string& target,
                     const std::string& temporary, std::uint32_t status, std::string reason) {
    status = Commit(temporary, target, status, &reason);
    if (status == kStatusOk) return status;
    if (IsOutputFailure(status)) {
        ReportFailure(target, status, reason);
    } else if (reason.empty()) {
        ReportRq6Failure(input, status);
    } else {
        ReportFailure(input, status, reason);
    }
    return status;
}

std::uint32_t RefuseOutputThatIsAnInput(const std::string& output,
                                        const std::vector<std::string>& inputs) {
    for (const auto& input : inputs) {
        if (!platform::SameFile(output.c_str(), input.c_str())) continue;
        const std::string why =
            output == input
                ? Format(Tr("%s is the input; choose another output name"), output.c_str())
                : Format(Tr("%s is the same file as the input %s; choose another output name"),
                         output.c_str(), input.c_str());
        std::fputs(Line(why).c_str(), stderr);
        return kStatusOutputIsInput;
    }
    return kStatusOk;
}

void Warn(const std::string& path, const std::string& warning) {
    if (!warning.empty()) std::fprintf(stderr, "tavrel: %s: %s\n", path.c_str(), warning.c_str());
}

}  // namespace command
