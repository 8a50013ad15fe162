// The bottom-up writer declared in png_writer.h: the caller hands the rows
// in, and each band goes to the threads as soon as it is complete.
#include "formats/png_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/conversion_status.h"
#include "formats/png_bands.h"
#include "formats/png_chunks.h"
#include "platform/file_io.h"

namespace png_write {

namespace {

using detail::Allocate;
using detail::Band;
using detail::BandEncoder;
using detail::BandPlan;
using detail::Buffer;
using detail::ChunkFile;
using detail::ComputeChunkCrcs;
using detail::kBandsAheadPerThread;
using detail::PlanBands;
using detail::WriteBand;
using detail::WriteHeaderChunks;

}  // namespace

// The rows arrive bottom first. Band k is complete once its rows and the row
// above it are in, which is the row that arrives right after its top row;
// it then goes to the threads, which filter and deflate it and keep only
// the compressed bytes. When the top row is in, the bands are written top
// first.
struct BottomUpWriter::State {
    State(platform::FileHandle file, const Layout& l, const Options& options)
        : out(file), layout(l), rowBytes(RowBytes(l)), plan(PlanBands(l, options)),
          chunkBytes(std::max<std::size_t>(1, options.chunkBytes)) {
        for (std::uint32_t y = 0; y < layout.height; y += plan.rowsPerBand) {
            Band b;
            b.firstRow = y;
            b.rows = std::min(plan.rowsPerBand, layout.height - y);
            bands.push_back(std::move(b));
        }
        raw.resize(bands.size());
        nextRow = layout.height;
        rawLimit = kBandsAheadPerThread * plan.threads + 1;
        bufferBytes = BandEncoder::BufferBytes((rowBytes + 1) * plan.rowsPerBand);
    }

    ~State() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (auto& t : workers) t.join();
    }

    std::uint32_t Status() {
        std::lock_guard<std::mutex> lock(mutex);
        return status;
    }

    // A buffer for the raw rows of a band (and the row above it), once fewer
    // than rawLimit are in use: the threads set the pace.
    Buffer TakeRawBuffer() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return rawInUse < rawLimit || status != kStatusOk; });
        ++rawInUse;
        if (!spareRaw.empty()) {
            Buffer b = std::move(spareRaw.back());
            spareRaw.pop_back();
            return b;
        }
        lock.unlock();
        return Allocate(rowBytes * (std::size_t{plan.rowsPerBand} + 1));
    }

    std::uint8_t* RawRow(std::size_t k, std::uint32_t y) {
        return raw[k].get() + rowBytes * (y + 1 - bands[k].firstRow);
    }

    void Submit(std::size_t k) {
        if (plan.threads <= 1) {
            Encode(encoder, k);
            return;
        }
        if (workers.empty()) {
            for (unsigned i = 0; i < plan.threads; ++i) workers.emplace_back([this] { Work(); });
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(k);
        }
        changed.notify_all();
    }

    void Work() {
        std::unique_ptr<BandEncoder> own;
        for (;;) {
            std::size_t k = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stopping || status != kStatusOk || !queue.empty(); });
                if (stopping || status != kStatusOk) return;
                k = queue.front();
                queue.erase(queue.begin());
            }
            Encode(own, k);
        }
    }

    // Compresses band k, keeping only the memory its compressed bytes take,
    // and gives back the raw rows for later bands.
    void Encode(std::unique_ptr<BandEncoder>& with, std::size_t k) {
        std::uint32_t result = kStatusOk;
        Band& band = bands[k];
        try {
            if (!with) with = std::make_unique<BandEncoder>(layout, nullptr);
            result = with->EncodeRows(band, k + 1 == bands.size(), Allocate(bufferBytes), raw[k].get());
            // The checks too: the bands are written one after another at
            // the end, and the less is left to do then, the sooner it ends.
            if (result == kStatusOk) ComputeChunkCrcs(band, k, bands.size(), chunkBytes);
            if (result == kStatusOk) {
                // Room for the zlib header before and the check after; the
                // allocator keeps a shrunk block where it is.
                if (void* kept = std::realloc(band.compressed.get(), 2 + band.size + 4)) {
                    band.compressed.release();
                    band.compressed.reset(static_cast<std::uint8_t*>(kept));
                }
            }
        } catch (const std::bad_alloc&) {
            result = kStatusOutOfMemory;
        } catch (const std::exception&) {
            result = kStatusUnexpected;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            spareRaw.push_back(std::move(raw[k]));
            --rawInUse;
            band.done = true;
            ++bandsDone;
            if (result != kStatusOk && status == kStatusOk) status = result;
        }
        changed.notify_all();
    }

    std::uint32_t Fail(std::uint32_t code) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (status == kStatusOk) status = code;
            code = status;
        }
        changed.notify_all();
        return code;
    }

    ChunkFile out;
    const Layout layout;
    const std::size_t rowBytes;
    const BandPlan plan;
    const std::size_t chunkBytes;
    std::vector<Band> bands;
    std::vector<Buffer> raw;  // per band, while its rows come in
    std::uint32_t nextRow = 0;  // the row after the next one to come (rows count down)
    std::size_t rawLimit = 1;
    std::size_t bufferBytes = 0;
    std::unique_ptr<BandEncoder> encoder;  // when the caller's thread does the work

    std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    std::vector<std::size_t> queue;  // bands complete, not yet claimed
    std::vector<Buffer> spareRaw;    // raw row buffers to use again
    std::size_t rawInUse = 0;
    std::size_t bandsDone = 0;
    std::uint32_t status = kStatusOk;
    bool stopping = false;
    std::vector<std::thread> workers;
};

BottomUpWriter::BottomUpWriter(platform::FileHandle file, const Layout& layout,
                               const Options& options)
    : state_(layout.width == 0 || layout.height == 0
                 ? nullptr
                 : std::make_unique<State>(file, layout, options)) {}

BottomUpWriter::~BottomUpWriter() = default;

std::uint32_t BottomUpWriter::Start() {
    if (!state_) return kStatusUnexpected;
    if (WriteHeaderChunks(state_->out, state_->layout)) return kStatusOk;
    systemError = state_->out.SystemError();
    return state_->Fail(kStatusWriteFailed);
}

std::uint8_t* BottomUpWriter::NextRow() {
    if (!state_ || state_->nextRow == 0) return nullptr;
    State& s = *state_;
    if (s.Status() != kStatusOk) return nullptr;
    const std::uint32_t y = s.nextRow - 1;
    const std::size_t k = y / s.plan.rowsPerBand;
    try {
        if (!s.raw[k]) s.raw[k] = s.TakeRawBuffer();
    } catch (const std::bad_alloc&) {
        s.Fail(kStatusOutOfMemory);
        return nullptr;
    }
    return s.Status() == kStatusOk ? s.RawRow(k, y) : nullptr;
}

std::uint32_t BottomUpWriter::AddRow() {
    if (!state_ || state_->nextRow == 0) return kStatusUnexpected;
    State& s = *state_;
    if (const std::uint32_t status = s.Status()) return status;
    const std::uint32_t y = s.nextRow - 1;
    const std::size_t k = y / s.plan.rowsPerBand;
    if (!s.raw[k]) return kStatusUnexpected;  // NextRow first
    --s.nextRow;
    try {
        if (y == s.bands[k].firstRow + s.bands[k].rows - 1 && k + 1 < s.bands.size()) {
            // The row above the band below, which is now complete.
            std::memcpy(s.RawRow(k + 1, y), s.RawRow(k, y), s.rowBytes);
            s.Submit(k + 1);
        }
        if (y == 0) {
            std::memset(s.raw[0].get(), 0, s.rowBytes);  // nothing above the top row
            s.Submit(0);
        }
    } catch (const std::bad_alloc&) {
        return s.Fail(kStatusOutOfMemory);
    } catch (const std::system_error&) {
        return s.Fail(kStatusOutOfMemory);  // no thread could be started
    }
    return s.Status();
}

std::uint32_t BottomUpWriter::AddRow(const std::uint8_t* row) {
    std::uint8_t* place = NextRow();
    if (!place) return state_ && state_->nextRow != 0 ? state_->Status() : kStatusUnexpected;
    std::memcpy(place, row, state_->rowBytes);
    return AddRow();
}

std::uint32_t BottomUpWriter::Finish() {
    if (!state_ || state_->nextRow != 0) return kStatusUnexpected;
    State& s = *state_;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.changed.wait(lock, [&] { return s.bandsDone == s.bands.size() || s.status != kStatusOk; });
        if (s.status != kStatusOk) return s.status;
    }
    std::uint32_t adler = 1;
    bool ok = true;
    for (std::size_t k = 0; ok && k < s.bands.size(); ++k) {
        ok = WriteBand(s.out, s.bands[k], k, s.bands.size(), s.chunkBytes, &adler);
        s.bands[k].compressed.reset();
    }
    if (ok && s.out.Chunk("IEND", nullptr, 0)) return kStatusOk;
    systemError = s.out.SystemError();
    return s.Fail(kStatusWriteFailed);
}

}  // namespace png_write
