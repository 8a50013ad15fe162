#include "formats/full_picture.h"

#include <cerrno>
#include <cstdint>
#include <exception>
#ifdef __linux__
#include <sys/mman.h>
#endif
#include <algorithm>
#include <new>
#include <functional>
#include <system_error>
#include <thread>

#include "engine/conversion_status.h"
#include "engine/limits.h"
#include "engine/picture_reader.h"
#include "formats/rq6_writer.h"
#include "formats/text_codec.h"
#include "formats/translation.h"

namespace full {

std::size_t SampleCount(std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1 || width > limits::kMaxSide || height > limits::kMaxSide ||
        width * height > limits::kMaxInputPixels) {
        return 0;
    }
    return static_cast<std::size_t>(3 * width * height);
}

void AllocateSamples(Picture* picture, std::size_t samples) {
    picture->rgb.clear();
    picture->rgb.reserve(samples);
#ifdef MADV_HUGEPAGE
    // Reserving takes the memory without touching it; asked for before the
    // first touch, whole 2 MB pages are faulted in at a time. Only advice:
    // a system without them goes on with small pages.
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(picture->rgb.data());
    const std::uintptr_t end = begin + samples * sizeof(std::uint16_t);
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    if (samples != 0 && end > first + kHuge) {
        madvise(reinterpret_cast<void*>(first), (end - first) & ~(kHuge - 1), MADV_HUGEPAGE);
    }
#endif
    picture->rgb.resize(samples);
}

namespace {

// Rows are stored bottom first, blue before red; the picture holds them top
// first, red before blue.
void PutRow(const std::uint16_t* bgr, std::uint32_t width, std::uint16_t* rgb) {
    for (std::uint32_t x = 0; x < width; ++x) {
        rgb[3 * x] = bgr[3 * x + 2];
        rgb[3 * x + 1] = bgr[3 * x + 1];
        rgb[3 * x + 2] = bgr[3 * x];
    }
}

// Rows of an input of unknown size (a pipe): the memory grows with the rows
// actually decoded, each of which the input had to hold, so a small input
// cannot claim a large picture's memory. They are stored as they come and
// turned top first at the end.
std::uint32_t ReadRowsGrowing(PictureReader& reader, Picture* picture) {
    const std::uint32_t width = reader.Width();
    const std::uint32_t height = reader.Height();
    const std::size_t samples = 3 * std::size_t{width};
    picture->rgb.clear();
    for (std::uint32_t y = 0; y < height; ++y) {
        if (const std::uint32_t s = reader.NextRow()) return s;
        picture->rgb.resize(picture->rgb.size() + samples);
        PutRow(reader.Row(), width, picture->rgb.data() + samples * y);
    }
    for (std::uint32_t y = 0; y < height / 2; ++y) {
        std::swap_ranges(picture->rgb.begin() + static_cast<std::ptrdiff_t>(samples * y),
                         picture->rgb.begin() + static_cast<std::ptrdiff_t>(samples * (y + 1)),
                         picture->rgb.begin() + static_cast<std::ptrdiff_t>(samples * (height - 1 - y)));
    }
    return kStatusOk;
}

}  // namespace

Result ReadRq6(PictureReader& reader, Picture* picture, std::string* warning) {
    if (reader.status != kStatusOk || !reader.Row() || reader.rowsRead != 0) {
        return {reader.status != kStatusOk ? reader.status : kStatusUnexpected, ""};
    }
    const std::uint32_t width = reader.Width();
    const std::uint32_t height = reader.Height();
    picture->width = width;
    picture->height = height;
    const std::string raw(reinterpret_cast<const char*>(reader.comment),
                          reader.CommentTextLength());
    if (!text::Cp932ToUtf8(raw, &picture->comment)) {
        picture->comment = text::Escaped(raw);
        *warning = msg::Format(msg::Tr("the comment is not valid code page 932 text; kept as %s"),
                               picture->comment.c_str());
    }
    // A file too small for its rows would fail reading them; it fails now,
    // before the memory for a picture it cannot hold is taken.
    if (!reader.InputCanHoldRows()) return {kStatusReadFailed, ""};
    std::uint64_t inputBytes = 0;
    try {
        if (!reader.InputSize(&inputBytes)) return {ReadRowsGrowing(reader, picture), ""};
        AllocateSamples(picture, SampleCount(width, height));
    } catch (const std::bad_alloc&) {
        return {kStatusOutOfMemory, ""};
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        if (const std::uint32_t s = reader.NextRow()) return {s, ""};
        PutRow(reader.Row(), width,
               picture->rgb.data() + 3 * static_cast<std::size_t>(width) * (height - 1 - y));
    }
    return {};
}

Result ReadRq6(const std::string& path, Picture* picture, std::string* warning) {
    PictureReader reader;
    if (const std::uint32_t s = reader.Open(path.c_str())) return {s, ""};
    return ReadRq6(reader, picture, warning);
}

namespace {

// Counting and coding take a third of packing a photograph; a second core
// halves that. What the second job throws (it can run out of memory) is
// thrown again here, once both are done.
void RunOnTwoThreads(const std::function<void()>& first, const std::function<void()>& second) {
    std::exception_ptr failed;
    std::thread other;
    try {
        other = std::thread([&] {
            try {
                second();
            } catch (...) {
                failed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        second();  // no thread to be had: one after the other
    }
    try {
        first();
    } catch (...) {
        if (other.joinable()) other.join();
        throw;
    }
    if (other.joinable()) other.join();
    if (failed) std::rethrow_exception(failed);
}

// Bytes of the code page 932 character that starts with `lead`.
std::size_t CharacterBytes(unsigned char lead) {
    return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
}

}  // namespace

namespace {

// Writes the picture with `write` (a call of the RQ6 writer, true on
// success), turning its failures into results.
template <typename Write>
Result WriteRq6With(const Picture& picture, const std::string& cp932Comment, bool* created,
                    Write write) {
    if (SampleCount(picture.width, picture.height) == 0 ||
        picture.rgb.size() != SampleCount(picture.width, picture.height) ||
        cp932Comment.size() > kMaxCommentBytes) {
        return {kStatusUnexpected, ""};
    }
    const std::uint32_t width = picture.width;
    const std::uint32_t height = picture.height;
    const auto row = [&](std::uint32_t y, std::uint16_t* bgr) {
        const std::uint16_t* in =
            picture.rgb.data() + 3 * static_cast<std::size_t>(width) * (height - 1 - y);
        for (std::uint32_t x = 0; x < width; ++x) {
            bgr[3 * x] = in[3 * x + 2];
            bgr[3 * x + 1] = in[3 * x + 1];
            bgr[3 * x + 2] = in[3 * x];
        }
    };
    errno = 0;
    bool ok = false;
    try {
        ok = write(width, height, row);
    } catch (const std::bad_alloc&) {
        return {kStatusOutOfMemory, ""};
    }
    if (!ok) {
        // The writer removes what it wrote, so the reason cannot be looked
        // for afterwards; the failed call left it in errno, which removing
        // the file does not change.
        const int error = errno;
        return {*created ? kStatusWriteFailed : kStatusOutputNotCreated,
                error != 0 ? msg::SystemReason(error) : std::string()};
    }
    return {};
}

}  // namespace

Result WriteRq6(const std::string& path, const Picture& picture, const std::string& cp932Comment) {
    bool created = false;
    return WriteRq6With(picture, cp932Comment, &created,
                        [&](std::uint32_t width, std::uint32_t height, const rq6::RowSource& row) {
                            return rq6::WriteRq6File(path.c_str(), width, height, cp932Comment,
                                                     row, {}, &created, RunOnTwoThreads);
                        });
}

Result WriteRq6(platform::FileHandle file, const Picture& picture,
                const std::string& cp932Comment) {
    bool created = true;
    return WriteRq6With(picture, cp932Comment, &created,
                        [&](std::uint32_t width, std::uint32_t height, const rq6::RowSource& row) {
                            return rq6::WriteRq6(file, width, height, cp932Comment, row,
                                                 RunOnTwoThreads);
                        });
}

std::string StoredComment(const std::string& utf8, std::string* warning) {
    warning->clear();
    std::string cp932;
    if (!text::Utf8ToCp932(utf8, &cp932)) {
        *warning = msg::Tr("the comment has characters code page 932 lacks; the picture gets none");
        return {};
    }
    if (cp932.size() <= full::kMaxCommentBytes) return cp932;
    std::size_t end = 0;
    while (end < cp932.size() &&
           end + CharacterBytes(static_cast<unsigned char>(cp932[end])) <= full::kMaxCommentBytes) {
        end += CharacterBytes(static_cast<unsigned char>(cp932[end]));
    }
    cp932.resize(end);
    std::string shown;
    text::Cp932ToUtf8(cp932, &shown);
    *warning =
        msg::Format(msg::Tr("the comment is cut to its first %zu bytes: %s"), end, shown.c_str());
    return cp932;
}

}  // namespace full
