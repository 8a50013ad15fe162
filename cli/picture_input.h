// An RQ6 picture named on the command line: a file, or standard input ("-").
// It is read once, through the engine's reader, and what went wrong is told
// from what that reading met: the system's reason for a failed open or read,
// the end of the bytes, or the first bytes of a file that is some other kind
// of picture. Nothing is opened a second time to find out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/options.h"
#include "engine/byte_source.h"
#include "engine/picture_reader.h"

namespace command {

using cli::kStandardStream;

// How an input or an output of the command line is named in messages: its
// path, or "standard input" / "standard output" for "-", in the user's
// language.
std::string InputName(const std::string& input);
std::string OutputName(const std::string& output);
// The same, untranslated, for what the tool prints on standard output.
std::string InputNameForScripts(const std::string& input);

class PictureInput final : public ByteSource {
public:
    // Opens the file, or takes standard input for "-".
    explicit PictureInput(const std::string& path);

    bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) override;
    bool TotalSize(std::uint64_t* bytes) const override;

    const std::string& Path() const { return path_; }

    // Opens `reader` on this input; on failure prints the message and
    // returns the status.
    std::uint32_t Open(PictureReader& reader);

    // The message for a failure of reading this picture with `reader`, as
    // ReportFailure prints it; and the same printed, returning the status.
    std::string FailureMessage(const PictureReader& reader, std::uint32_t status);
    std::uint32_t Report(const PictureReader& reader, std::uint32_t status);

private:
    // Bytes enough to tell the kinds of picture people mistake for RQ6 files.
    static constexpr std::uint32_t kHeadBytes = 32;

    std::string FormatErrorMessage();

    std::string path_;
    std::unique_ptr<FileSource> file_;
    std::uint8_t head_[kHeadBytes] = {};
    std::uint32_t headBytes_ = 0;
    bool ended_ = false;  // the bytes ended, or a read failed
};

}  // namespace command
