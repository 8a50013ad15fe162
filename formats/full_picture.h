// A picture at full precision in memory, the meeting point of the RQ6, PNG
// and PPM readers and writers of the tool.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"

class PictureReader;

namespace full {

struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // 16-bit red, green, blue samples; the top row first.
    std::vector<std::uint16_t> rgb;
    // UTF-8; empty when the picture has none.
    std::string comment;
};

// Outcome of reading or writing a picture: a conversion status (0 on
// success) and, on failure, why, when that is known: what is wrong with the
// file or the system's reason, in the user's language. The status says the
// rest (which file, and what failed with it).
struct Result {
    std::uint32_t status = 0;
    std::string message;
    explicit operator bool() const { return status == 0; }
};

inline Result Failure(std::uint32_t status, std::string message) {
    return {status, std::move(message)};
}

// Holds a comment of `bytes` code page 932 bytes whole: the program keeps the
// first 128 bytes of a comment, its terminator included.
inline constexpr std::size_t kMaxCommentBytes = 127;

// The comment to store for a picture's UTF-8 comment: code page 932, cut at
// a character boundary to the bytes the program keeps. Characters code page
// 932 lacks make it empty. *warning says what was changed, if anything.
std::string StoredComment(const std::string& utf8, std::string* warning);

// Reads an RQ6 picture. A comment that is not valid code page 932 text is
// kept escaped (\xNN) and *warning says so.
Result ReadRq6(const std::string& path, Picture* picture, std::string* warning);
// The same from a reader that is open and has read no row yet. An input that
// knows its size must be able to hold the rows before their memory is taken;
// for one that does not (a pipe), the memory grows with the rows read.
Result ReadRq6(PictureReader& reader, Picture* picture, std::string* warning);

// Writes the picture as an RQ6 file with the comment `cp932Comment`
// (at most kMaxCommentBytes). Nothing is left behind on failure. The
// message of a failure of the file is the system's reason, when it gave one.
Result WriteRq6(const std::string& path, const Picture& picture, const std::string& cp932Comment);
// The same into an open file (borrowed, left open), from where it stands.
Result WriteRq6(platform::FileHandle file, const Picture& picture,
                const std::string& cp932Comment);

// Sizes picture->rgb to `samples` zero samples. Large pictures are given
// the system's large memory pages where it has them: filling 46 MB in 4 KB
// pages costs more than reading the picture's file. May throw bad_alloc.
void AllocateSamples(Picture* picture, std::size_t samples);

// The samples a picture of this size needs, or 0 when it is beyond the
// limits any RQ6 picture stays within.
std::size_t SampleCount(std::int64_t width, std::int64_t height);

}  // namespace full
