#include "plugins/pixbuf/streamed_picture.h"

#include <algorithm>
#include <new>

#include "engine/byte_source.h"
#include "engine/color_mode.h"
#include "engine/huffman_code.h"
#include "engine/limits.h"
#include "engine/rq6_layout.h"

namespace {

// No code is longer than the tree is deep, and a tree's depth is bounded by
// its internal nodes.
constexpr std::uint64_t kMaxCodeBits = rq6::kMaxInternalNodes;
// The tree in pre-order: a bit for each internal node, a bit and the byte
// for each leaf, of which a binary tree has one more than internal nodes.
constexpr std::uint64_t kMaxTreeBits =
    kMaxCodeBits + (1 + rq6::kLeafValueBits) * (rq6::kMaxInternalNodes + 1);
static_assert(kMaxTreeBits == 255 + 9 * 256, "255 internal nodes and 256 leaves");
// The magic and the value after it.
constexpr std::uint64_t kContainerBytes = rq6::kStreamOffset;
// The most bytes a picture can take before its rows: the container, the
// tree, then the headers and the longest comment in the longest codes
// (about 2 MB). A stream whose headers are still incomplete after that many
// bytes is no picture, and holding more of it would only waste memory.
constexpr std::uint64_t kMaxHeadBytes =
    kContainerBytes +
    (kMaxTreeBits + (bmp::kHeadersSize + limits::kMaxCommentLength) * kMaxCodeBits + 7) / 8;
// The bit reader keeps its 64-bit window filled ahead of the code it
// decodes: bytes it may take beyond the last one a step needs.
constexpr std::uint64_t kLookAheadBytes = 16;
// Full colour through a contrast curve of exponent 1: the look of a plain
// conversion.
constexpr double kExponent = 1.0;

}  // namespace

StreamedPicture::StreamedPicture(Listener& l) : listener(l) {}
StreamedPicture::~StreamedPicture() = default;

std::uint32_t StreamedPicture::Fail(std::uint32_t code) {
    stage_ = Stage::kFailed;
    return status_ = code;
}

std::uint32_t StreamedPicture::Add(const std::uint8_t* data, std::size_t size) {
    while (stage_ != Stage::kDone && stage_ != Stage::kFailed) {
        // Until the headers are known, no more than they can take is held:
        // the rest of a large piece waits for the headers' verdict.
        std::size_t piece = size;
        if (stage_ == Stage::kHeaders) {
            piece = static_cast<std::size_t>(
                std::min<std::uint64_t>(size, kMaxHeadBytes - held.Received()));
        }
        if (!held.Add(data, piece)) return Fail(kStatusOutOfMemory);
        data += piece;
        size -= piece;
        if (Advance() != kStatusOk || size == 0) break;
    }
    return status_;
}

std::uint32_t StreamedPicture::End() {
    if (stage_ == Stage::kFailed || stage_ == Stage::kDone) return status_;
    held.MarkComplete();
    Advance();
    // Every stage finishes once the stream is complete.
    if (stage_ != Stage::kDone && stage_ != Stage::kFailed) Fail(kStatusUnexpected);
    return status_;
}

std::uint32_t StreamedPicture::Advance() {
    if (stage_ == Stage::kHeaders && LookForHeaders() != kStatusOk) return status_;
    if (stage_ == Stage::kSized && BeginRows() != kStatusOk) return status_;
    while (stage_ == Stage::kRows) {
        if (!held.Complete() && held.Unread() < BytesFor(RowsPerStep())) break;
        if (Step() != kStatusOk) break;
    }
    return status_;
}

std::uint32_t StreamedPicture::LookForHeaders() {
    const bool lastChance = held.Complete() || held.Received() >= kMaxHeadBytes;
    if (held.Size() < nextLook && !lastChance) return kStatusOk;
    // Looking again at every byte would cost the square of the header's
    // length; doubling the bytes between looks keeps it linear.
    nextLook = 2 * static_cast<std::uint64_t>(held.Size());
    MemorySource source(held.Data(), held.Size());
    PictureReader probe;
    const std::uint32_t s = probe.Open(source);
    if (s == kStatusOutOfMemory) return Fail(s);
    // A cut tree reads as a bad one: only the whole stream tells them apart.
    if (s != kStatusOk)
        return lastChance ? Fail(held.Complete() ? s : kStatusFormatError) : kStatusOk;

    headBytes = held.Size();
    inWidth = probe.Width();
    inHeight = probe.Height();
    codeBits = static_cast<std::uint64_t>(std::max(1, probe.InternalNodeCount()));
    std::uint32_t w = 0, h = 0;
    if (const std::uint32_t refused = listener.ChooseSize(inWidth, inHeight, &w, &h)) {
        return Fail(refused);
    }
    if (w == 0 || h == 0) {
        stage_ = Stage::kDone;
        return kStatusOk;
    }
    outWidth = w;
    outHeight = h;
    // No stream of this picture is longer than its rows in the longest codes.
    held.SetLimit(headBytes + BytesFor(inHeight));
    stage_ = Stage::kSized;
    return kStatusOk;
}

std::uint32_t StreamedPicture::BeginRows() {
    // Each byte of the rows takes at least a bit, and the reader's opening
    // and the first step must not run dry.
    const std::uint64_t leastRowBytes =
        (std::uint64_t{inHeight} * rq6::StoredRowStride(inWidth) + 7) / 8;
    if (!held.Complete() &&
        held.Size() < headBytes + std::max(leastRowBytes, BytesFor(RowsPerStep()))) {
        return kStatusOk;
    }
    reader.reset(new (std::nothrow) PictureReader);
    job.reset(new (std::nothrow) WPConvert);
    if (!reader || !job) return Fail(kStatusOutOfMemory);
    std::uint32_t s = reader->Open(held);
    if (s == kStatusOk && !reader->InputCanHoldRows()) s = kStatusReadFailed;
    RowOutput* out = nullptr;
    if (s == kStatusOk) s = listener.Allocate(outWidth, outHeight, &out);
    if (s == kStatusOk && !out) s = kStatusUnexpected;
    if (s == kStatusOk)
        s = job->Begin(*reader, *out, kExponent, outWidth, outHeight, kModeFullColor);
    if (held.starved) return Fail(kStatusUnexpected);
    if (s != kStatusOk) return Fail(s);
    stage_ = Stage::kRows;
    return kStatusOk;
}

std::uint32_t StreamedPicture::Step() {
    const std::uint32_t s = job->linesDone == 0 ? job->ConvertFirstLine() : job->ConvertNextLine();
    if (held.starved) return Fail(kStatusUnexpected);
    if (s != kStatusOk) return Fail(s);
    if (job->linesDone >= job->height) stage_ = Stage::kDone;
    held.Discard();
    return kStatusOk;
}

std::uint64_t StreamedPicture::RowsPerStep() const {
    // An output row covers inHeight / outHeight stored rows and touches one
    // more at each edge; the first step also reads the first row, and one
    // more is allowed for a row whose weight rounds to nothing.
    return inHeight / std::max<std::uint32_t>(outHeight, 1) + 3;
}

std::uint64_t StreamedPicture::BytesFor(std::uint64_t storedRows) const {
    return (storedRows * rq6::StoredRowStride(inWidth) * codeBits + 7) / 8 + kLookAheadBytes;
}
