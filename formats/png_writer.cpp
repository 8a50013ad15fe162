// The top-down writer: the threads take the rows from the row source band by
// band, and the caller's thread writes each band out as soon as it is done.
#include "formats/png_writer.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/conversion_status.h"
#include "formats/png_bands.h"
#include "formats/png_chunks.h"
#include "formats/translation.h"
#include "platform/file_io.h"

namespace png_write {

namespace {

using detail::Allocate;
using detail::Band;
using detail::BandEncoder;
using detail::BandPlan;
using detail::Buffer;
using detail::ChunkFile;
using detail::kBandsAheadPerThread;
using detail::PlanBands;
using detail::WriteBand;
using detail::WriteHeaderChunks;

// Bands are claimed in order by the threads and written in order by the
// caller's thread as each is done.
class BandPipeline {
public:
    BandPipeline(const Layout& layout, const RowSource& rows, std::uint32_t rowsPerBand, unsigned threads)
        : layout_(layout), rows_(rows), threads_(threads) {
        for (std::uint32_t y = 0; y < layout.height; y += rowsPerBand) {
            Band b;
            b.firstRow = y;
            b.rows = std::min(rowsPerBand, layout.height - y);
            bands_.push_back(std::move(b));
        }
        ahead_ = kBandsAheadPerThread * threads;
        bufferBytes_ = BandEncoder::BufferBytes((RowBytes(layout) + 1) * rowsPerBand);
    }

    ~BandPipeline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (status_ == kStatusOk) status_ = kStatusUnexpected;  // stops the workers early
            stopping_ = true;
        }
        changed_.notify_all();
        for (auto& t : workers_) t.join();
    }

    // Calls write(band) for each band in order; stops at the first failure.
    template <typename Write>
    std::uint32_t Run(Write write) {
        if (threads_ > 1) {
            for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
        }
        for (std::size_t k = 0; k < bands_.size(); ++k) {
            if (threads_ <= 1) {
                Claim();
                Encode(k);
            }
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return bands_[k].done || status_ != kStatusOk; });
                if (status_ != kStatusOk) return status_;
            }
            const bool ok = write(bands_[k]);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                spare_.push_back(std::move(bands_[k].compressed));
                written_ = k + 1;
                if (!ok) status_ = kStatusWriteFailed;
            }
            changed_.notify_all();
            if (!ok) return kStatusWriteFailed;
        }
        return kStatusOk;
    }

    std::size_t Count() const { return bands_.size(); }

private:
    std::size_t Claim() { return next_++; }

    void Encode(std::size_t k) { EncodeWith(encoder_, k); }

    void EncodeWith(std::unique_ptr<BandEncoder>& encoder, std::size_t k) {
        std::uint32_t status = kStatusOk;
        try {
            if (!encoder) encoder = std::make_unique<BandEncoder>(layout_, &rows_);
            Buffer buffer;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!spare_.empty()) {
                    buffer = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            if (!buffer) buffer = Allocate(bufferBytes_);
            status = encoder->Encode(bands_[k], k + 1 == bands_.size(), std::move(buffer));
        } catch (const std::bad_alloc&) {
            status = kStatusOutOfMemory;
        } catch (const std::exception&) {
            status = kStatusUnexpected;
        }
        Finish(k, status);
    }

    void Finish(std::size_t k, std::uint32_t status) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bands_[k].done = true;
            if (status != kStatusOk && status_ == kStatusOk) status_ = status;
        }
        changed_.notify_all();
    }

    void Work() {
        std::unique_ptr<BandEncoder> encoder;
        for (;;) {
            std::size_t k = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || status_ != kStatusOk || next_ >= bands_.size() ||
                           next_ < written_ + ahead_;
                });
                if (stopping_ || status_ != kStatusOk || next_ >= bands_.size()) return;
                k = Claim();
            }
            EncodeWith(encoder, k);
        }
    }

    const Layout& layout_;
    const RowSource& rows_;
    unsigned threads_;
    std::vector<Band> bands_;
    std::size_t ahead_ = 2;
    std::size_t bufferBytes_ = 0;
    std::vector<Buffer> spare_;  // buffers of bands written
    std::unique_ptr<BandEncoder> encoder_;  // when the caller's thread does the work
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;     // the next band to claim
    std::size_t written_ = 0;  // bands written
    std::uint32_t status_ = kStatusOk;
    bool stopping_ = false;
};

std::uint32_t WriteImageData(ChunkFile& out, const Layout& layout, const RowSource& rows,
                             const Options& options) {
    const BandPlan plan = PlanBands(layout, options);
    BandPipeline pipeline(layout, rows, plan.rowsPerBand, plan.threads);
    std::uint32_t adler = 1;
    std::size_t index = 0;
    return pipeline.Run([&](Band& band) {
        return WriteBand(out, band, index++, pipeline.Count(),
                         std::max<std::size_t>(1, options.chunkBytes), &adler);
    });
}

// The reason for a failure of the file, for the caller's message.
full::Result Failed(std::uint32_t status, int systemError) {
    return full::Failure(status, systemError != 0 ? msg::SystemReason(systemError) : "");
}

}  // namespace

full::Result Write(platform::FileHandle file, const Layout& layout, const RowSource& rows,
                   const Options& options) {
    if (layout.width == 0 || layout.height == 0) return full::Failure(kStatusUnexpected, "");
    ChunkFile out(file);
    std::uint32_t status = kStatusOk;
    try {
        if (!WriteHeaderChunks(out, layout)) {
            status = kStatusWriteFailed;
        } else {
            status = WriteImageData(out, layout, rows, options);
        }
        if (status == kStatusOk && !out.Chunk("IEND", nullptr, 0)) status = kStatusWriteFailed;
    } catch (const std::bad_alloc&) {
        status = kStatusOutOfMemory;
    } catch (const std::system_error&) {
        status = kStatusOutOfMemory;  // no thread could be started
    }
    if (status != kStatusOk) return Failed(status, status == kStatusWriteFailed ? out.SystemError() : 0);
    return {};
}

full::Result Write(const std::string& path, const Layout& layout, const RowSource& rows,
                   const Options& options) {
    if (layout.width == 0 || layout.height == 0) return full::Failure(kStatusUnexpected, "");
    const platform::FileHandle file = platform::CreateWrite(path.c_str());
    if (file == platform::kInvalidFile) return Failed(kStatusOutputNotCreated, platform::LastError());
    full::Result result = Write(file, layout, rows, options);
    platform::Close(file);
    return result;
}

}  // namespace png_write
