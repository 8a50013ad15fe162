// Fuzz target over a whole conversion job. The first four input bytes choose
// the job (colour mode and whether it converts only the crop that fills the
// output, output width and height 1 ... 32, contrast position);
// the rest is the RQ6 file. The job runs from the bytes in memory into rows
// kept in memory, and (except in mode 48, which has no bitmap) from the file
// into a BMP file. Every job is checked against the plain reading of the
// file: the status it must end with and where, the rows and the file it
// leaves, and, for small pictures, every byte of the rows and the BMP against
// the plain reference conversion.
#include <algorithm>

#include "engine/byte_source.h"
#include "engine/gamma_table.h"
#include "engine/row_output.h"
#include "engine/wp_convert.h"
#include "tests/engine/reference_conversion.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/plain_rq6.h"

namespace {

constexpr std::uint32_t kModes[8] = {1, 4, 5, 8, 9, 16, 24, 48};
constexpr std::size_t kJobBytes = 4;
// Small outputs keep every job fast; odd and even sizes both occur.
constexpr std::uint32_t kMaxOutputSide = 32;
// The reference conversion costs input pixels x output pixels; beyond this
// the job is still checked, but not byte for byte.
constexpr std::uint64_t kMaxReferenceWork = std::uint64_t{1} << 20;

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

std::uint32_t PaletteBytes(std::uint32_t mode) {
    switch (mode) {
        case 1: return 8;
        case 4:
        case 5: return 64;
        case 8:
        case 9: return 1024;
        default: return 0;
    }
}

std::uint32_t PixelBytes(std::uint32_t mode, std::uint32_t w) {
    switch (mode) {
        case 1: return (w + 7) / 8;
        case 4:
        case 5: return (w + 1) / 2;
        case 8:
        case 9: return w;
        case 48: return 6 * w;
        default: return 3 * w;
    }
}

// What the plain reading says a job on this file must end with.
struct Expectation {
    std::uint32_t status = 0;
    bool failsInBegin = false;
    std::uint32_t linesDone = 0;
    std::vector<std::uint8_t> headers;  // the 54 header bytes, when decodable
    std::vector<std::uint8_t> comment;  // the kept comment bytes, zero-filled to 128
    test::Picture picture;              // rows not reached are left black
    bool cover = false;                 // the job converts only `crop`
    test::Crop crop;
};

Expectation Expect(const std::uint8_t* file, std::size_t size, std::uint32_t w, std::uint32_t h,
                   bool cover) {
    Expectation e;
    fuzz::PlainRq6 plain(file, size);
    auto fail = [&e](std::uint32_t status, bool inBegin) {
        e.status = status;
        e.failsInBegin = inBegin;
        return e;
    };
    if (!plain.TreeOk()) return fail(6, true);
    if (plain.Take(54, &e.headers) < 54) return fail(4, true);
    const std::uint32_t offBits = Le(e.headers, 10, 4);
    // Lengths beyond 64 KB are not read at all; the header test refuses them.
    if (offBits >= 54 && offBits - 54 <= 65536) {
        std::vector<std::uint8_t> comment;
        if (plain.Take(offBits - 54, &comment) < offBits - 54) return fail(4, true);
        comment.resize(128);
        e.comment = comment;
    }
    const std::int64_t inW = static_cast<std::int32_t>(Le(e.headers, 18, 4));
    const std::int64_t inH = static_cast<std::int32_t>(Le(e.headers, 22, 4));
    if (Le(e.headers, 0, 2) != ('I' | 'F' << 8) || Le(e.headers, 28, 2) != 48 ||
        Le(e.headers, 30, 4) != 1 || offBits < 54 || offBits - 54 > 65536 || inW < 1 ||
        inH < 1 || inW > 32767 || inH > 32767 || inW * inH > (std::int64_t{1} << 27)) {
        return fail(6, true);
    }

    // Rows: count the complete ones, undoing the delta coding on the way.
    const auto W = static_cast<std::uint32_t>(inW);
    const auto H = static_cast<std::uint32_t>(inH);
    const std::uint32_t stride = (6 * W + 3) & ~3u;
    e.picture.width = W;
    e.picture.height = H;
    std::vector<std::uint16_t> previous(3 * static_cast<std::size_t>(W), 0);
    std::vector<std::uint8_t> bytes;
    std::uint32_t rows = 0;
    for (; rows < H; ++rows) {
        bytes.clear();
        if (plain.Take(stride, &bytes) < stride) break;
        std::vector<std::uint16_t> current(previous.size());
        for (std::size_t i = 0; i < current.size(); ++i) {
            const auto stored = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
            const std::uint16_t base = rows == 0 ? (i >= 3 ? current[i - 3] : 0) : previous[i];
            current[i] = static_cast<std::uint16_t>(base + stored);
        }
        e.picture.bgr.insert(e.picture.bgr.end(), current.begin(), current.end());
        previous = current;
    }
    e.picture.bgr.resize(3 * static_cast<std::size_t>(W) * H, 0);

    // Input row j of the rows converted covers [a(j), a(j+1)) in 256ths of an
    // output row, a(j) = floor((n / 2 + 256 h j) / n), n of them. The job
    // decodes a row only when an output row needs it, so with `rows` complete
    // rows exactly the output rows that end by a(complete rows converted) can
    // be written. With a crop the n rows start above the `below` ones.
    std::uint32_t n = H, below = 0;
    if (cover) {
        e.cover = true;
        // Random sizes have no hand-worked crop; the rule is tested on its own.
        const SourceRect r = CoverRect(W, H, w, h);
        e.crop = test::Crop{r.left, r.top, r.width, r.height};
        n = e.crop.height;
        below = H - e.crop.top - e.crop.height;
    }
    const std::uint32_t usable = rows > below ? rows - below : 0;
    const std::uint64_t reach = (n / 2 + std::uint64_t{256} * h * usable) / n;
    if (reach >= std::uint64_t{256} * h) {
        e.linesDone = h;
        return e;
    }
    e.linesDone = static_cast<std::uint32_t>(reach / 256);
    return fail(4, false);
}

// The rows a job hands to its output, kept; nothing else is written.
struct KeptRows final : RowOutput {
    std::uint32_t Start(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t rowStride) override {
        FUZZ_CHECK(!started);
        started = true;
        stride = rowStride;
        return 0;
    }
    std::uint32_t WriteRow(const std::uint8_t* row) override {
        FUZZ_CHECK(started && !finished);
        rows.insert(rows.end(), row, row + stride);
        return 0;
    }
    std::uint32_t Finish() override {
        finished = true;
        return 0;
    }
    bool started = false, finished = false;
    std::uint32_t stride = 0;
    std::vector<std::uint8_t> rows;
};

struct Outcome {
    std::uint32_t status = 0, linesDone = 0, outFileSize = 0;
    std::uint8_t comment[128] = {};
};

// Runs a begun job to its end and checks how it ends against `e`.
Outcome Run(WPConvert& job, std::uint32_t status, const Expectation& e, std::uint32_t h) {
    if (e.failsInBegin) {
        FUZZ_CHECK(status == e.status);
        FUZZ_CHECK(!job.work);
    } else {
        FUZZ_CHECK(status == 0);
        status = job.ConvertFirstLine();
        // One row per step; the bound only guards against a job that never ends.
        for (std::uint32_t step = 0; status == 0 && job.linesDone < job.height; ++step) {
            FUZZ_CHECK(step < h);
            const std::uint32_t before = job.linesDone;
            status = job.ConvertNextLine();
            if (status == 0) FUZZ_CHECK(job.linesDone == before + 1);
        }
        FUZZ_CHECK(status == e.status);
        FUZZ_CHECK(job.linesDone == e.linesDone);
        // The outcome is final: a further step changes nothing.
        FUZZ_CHECK(job.ConvertNextLine() == status);
        FUZZ_CHECK(job.ConvertFirstLine() == status);
        FUZZ_CHECK(job.linesDone == e.linesDone);
    }
    FUZZ_CHECK(job.status == status);
    Outcome o;
    o.status = status;
    o.linesDone = job.linesDone;
    o.outFileSize = job.outFileSize;
    std::copy(job.comment, job.comment + 128, o.comment);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kJobBytes) return 0;
    static const ContrastTable contrast;
    const std::uint32_t mode = kModes[data[0] % 8];
    const bool cover = data[0] / 8 % 2 == 1;
    const std::uint32_t w = 1 + data[1] % kMaxOutputSide;
    const std::uint32_t h = 1 + data[2] % kMaxOutputSide;
    const double exponent = contrast.exponent[data[3]];
    const std::uint8_t* file = data + kJobBytes;
    const std::size_t fileSize = size - kJobBytes;
    const Expectation e = Expect(file, fileSize, w, h, cover);
    const SourceRect crop = {e.crop.left, e.crop.top, e.crop.width, e.crop.height};

    // The job from the bytes in memory, into rows kept in memory: every mode.
    KeptRows kept;
    Outcome o;
    {
        MemorySource source(file, fileSize);
        WPConvert job;
        if (e.cover) job.source = crop;
        o = Run(job, job.Begin(source, kept, exponent, w, h, mode), e, h);
    }
    FUZZ_CHECK(kept.started == !e.failsInBegin);
    if (e.failsInBegin) return 0;
    const std::uint32_t stride = (PixelBytes(mode, w) + 3) & ~3u;
    FUZZ_CHECK(kept.stride == stride);
    FUZZ_CHECK(kept.finished == (o.status == 0));
    // Whole rows only, each ending in zero fill bytes.
    FUZZ_CHECK(kept.rows.size() == std::size_t{stride} * o.linesDone);
    for (std::uint32_t y = 0; y < o.linesDone; ++y) {
        const auto row = kept.rows.begin() + std::size_t{stride} * y;
        FUZZ_CHECK(std::all_of(row + PixelBytes(mode, w), row + stride, [](std::uint8_t b) { return b == 0; }));
    }
    FUZZ_CHECK(std::equal(e.comment.begin(), e.comment.end(), o.comment));

    // The same job from the file into a bitmap, for the modes that have one.
    std::vector<std::uint8_t> bmp;
    if (mode != kModeDeepColor) {
        const std::string in = fuzz::ScratchDir() + "/job.rq6";
        const std::string out = fuzz::ScratchDir() + "/job.bmp";
        fuzz::WriteFile(in, file, fileSize);
        std::remove(out.c_str());
        Outcome fromFile;
        {
            WPConvert job;
            if (e.cover) job.source = crop;
            fromFile = Run(job, job.Begin(in.c_str(), out.c_str(), exponent, w, h, mode), e, h);
        }
        // The file holds the headers, the palette and the rows the output was given.
        const std::uint32_t offBits = 54 + PaletteBytes(mode);
        FUZZ_CHECK(fromFile.outFileSize == offBits + stride * h);
        bmp = fuzz::ReadFile(out);
        FUZZ_CHECK(bmp.size() == offBits + kept.rows.size());
        FUZZ_CHECK(std::equal(kept.rows.begin(), kept.rows.end(), bmp.begin() + offBits));
        // Fields the job does not define come from the picture's own headers.
        for (const auto& [at, bytes] : {std::pair{6, 4}, {14, 4}, {26, 2}, {38, 16}}) {
            FUZZ_CHECK(std::equal(bmp.begin() + at, bmp.begin() + at + bytes, e.headers.begin() + at));
        }
    }

    const std::uint64_t work = std::uint64_t{e.cover ? e.crop.width : e.picture.width} *
                               (e.cover ? e.crop.height : e.picture.height) * w * h;
    if (o.status == 0 && work <= kMaxReferenceWork) {
        const auto reference = test::ReferenceBmp(
            e.cover ? test::Cropped(e.picture, e.crop) : e.picture, exponent, w, h, mode);
        const std::size_t offBits = 54 + PaletteBytes(mode);
        FUZZ_CHECK(reference.size() == offBits + kept.rows.size());
        FUZZ_CHECK(std::equal(kept.rows.begin(), kept.rows.end(), reference.begin() + offBits));
        if (!bmp.empty()) {
            // The reference writes default values into the copied fields.
            for (const auto& [at, bytes] : {std::pair{0, 6}, {10, 4}, {18, 8}, {28, 10}}) {
                FUZZ_CHECK(std::equal(bmp.begin() + at, bmp.begin() + at + bytes, reference.begin() + at));
            }
            FUZZ_CHECK(std::equal(bmp.begin() + 54, bmp.begin() + offBits, reference.begin() + 54));
        }
    }
    return 0;
}
