#include "cli/picture_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/failure_message.h"
#include "cli/messages.h"
#include "engine/conversion_status.h"
#include "engine/huffman_code.h"
#include "engine/rq6_layout.h"
#include "formats/png_io.h"
#include "formats/ppm_io.h"
#include "platform/file_io.h"

namespace command {

namespace {

using msg::Format;
using msg::Tr;

bool IsStandard(const std::string& path) { return path == kStandardStream; }

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

using msg::Line;

}  // namespace

std::string InputName(const std::string& input) {
    return IsStandard(input) ? Tr("standard input") : input;
}

std::string OutputName(const std::string& output) {
    return IsStandard(output) ? Tr("standard output") : output;
}

std::string InputNameForScripts(const std::string& input) {
    return IsStandard(input) ? "standard input" : input;
}

PictureInput::PictureInput(const std::string& path)
    : path_(path),
      file_(IsStandard(path) ? std::make_unique<FileSource>(platform::StandardInput())
                             : std::make_unique<FileSource>(path.c_str())) {
    systemError = file_->systemError;
}

bool PictureInput::Read(void* buffer, std::uint32_t size, std::uint32_t* got) {
    const bool ok = file_->Read(buffer, size, got);
    systemError = file_->systemError;
    if (headBytes_ < kHeadBytes) {
        const std::uint32_t n = std::min(*got, kHeadBytes - headBytes_);
        std::memcpy(head_ + headBytes_, buffer, n);
        headBytes_ += n;
    }
    if (!ok || *got == 0) ended_ = true;
    return ok;
}

bool PictureInput::TotalSize(std::uint64_t* bytes) const { return file_->TotalSize(bytes); }

std::uint32_t PictureInput::Open(PictureReader& reader) {
    if (!file_->IsOpen()) return Report(reader, kStatusInputNotOpened);
    if (const std::uint32_t s = reader.Open(*this)) return Report(reader, s);
    return kStatusOk;
}

std::string PictureInput::FormatErrorMessage() {
    // The reader stopped at the first bytes that were no RQ6 picture's; the
    // few after them tell what kind of file it is.
    while (!ended_ && headBytes_ < kHeadBytes) {
        std::uint8_t more[kHeadBytes];
        std::uint32_t got = 0;
        Read(more, kHeadBytes - headBytes_, &got);
    }
    const std::string name = InputName(path_);
    const char* p = name.c_str();
    const Kind kind = KindOf(head_, headBytes_);
    // tavrel pack reads files only.
    if (kind.name && kind.packable && !IsStandard(path_)) {
        return Line(Format(Tr("%s is %s, not an RQ6 file; 'tavrel pack %s' makes one."), p,
                           Tr(kind.name), p));
    }
    if (kind.name) {
        return Line(Format(Tr("%s is %s, not an RQ6 file; 'tavrel pack' makes one from a PNG, "
                              "PPM or PGM picture."),
                           p, Tr(kind.name)));
    }
    const bool rq6 = headBytes_ >= 4 && (head_[0] | head_[1] << 8 | head_[2] << 16 |
                                         std::uint32_t{head_[3]} << 24) == rq6::kMagic;
    return command::FailureMessage(name, kStatusFormatError,
                                   rq6 ? Tr("a damaged RQ6 file, or a picture beyond the size limits")
                                       : Tr("not an RQ6 file"));
}

std::string PictureInput::FailureMessage(const PictureReader& reader, std::uint32_t status) {
    const std::string name = InputName(path_);
    const int error = file_->IsOpen() ? reader.SystemError() : systemError;
    switch (status) {
        case kStatusInputNotOpened:
            // The file layer opens no file another reader holds.
            return command::FailureMessage(name, status,
                                           error == EWOULDBLOCK
                                               ? Tr("another program is using the file")
                                               : error != 0 ? msg::SystemReason(error) : "");
        case kStatusReadFailed:
            if (reader.InputFailed()) {
                return command::FailureMessage(name, status,
                                               error != 0 ? msg::SystemReason(error) : "");
            }
            return command::FailureMessage(name, status, Tr("the picture ends early"));
        case kStatusFormatError:
            return FormatErrorMessage();
        default:
            return command::FailureMessage(name, status);
    }
}

std::uint32_t PictureInput::Report(const PictureReader& reader, std::uint32_t status) {
    std::fputs(FailureMessage(reader, status).c_str(), stderr);
    return status;
}

}  // namespace command
