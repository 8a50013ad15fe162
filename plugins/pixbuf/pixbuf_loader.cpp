// The gdk-pixbuf loader for RQ6 pictures (libpixbufloader-rq6.so), through
// which every program that opens pictures with gdk-pixbuf shows them.
//
// Only the incremental entry points are set: gdk-pixbuf builds whole-file
// loading on top of them. The bytes go to a StreamedPicture, which converts
// them with the engine at the size the program asks for; this file only
// allocates the pixbuf, passes the program's callbacks on and turns statuses
// into errors. Nothing may escape into the host program: every failure is a
// GError, and no C++ exception leaves these functions.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <cstdint>
#include <memory>
#include <new>

#include "engine/conversion_status.h"
#include "engine/limits.h"
#include "plugins/pixbuf/rgb_rows.h"
#include "plugins/pixbuf/streamed_picture.h"

namespace {

// gdk-pixbuf indexes and sizes pixel data with int in places: a pixbuf of
// more than this many bytes is refused before it is allocated.
constexpr std::uint64_t kMaxPixbufBytes = G_MAXINT;

// Rows of an 8-bit RGB pixbuf without alpha start on 4-byte boundaries.
std::uint64_t RgbRowStride(std::uint64_t width) { return (3 * width + 3) & ~std::uint64_t{3}; }

class LoadContext final : public StreamedPicture::Listener {
public:
    LoadContext(GdkPixbufModuleSizeFunc size, GdkPixbufModulePreparedFunc prepared,
                GdkPixbufModuleUpdatedFunc updated, gpointer data)
        : sizeFunc(size), preparedFunc(prepared), updatedFunc(updated), userData(data) {}
    ~LoadContext() override {
        if (pixbuf) g_object_unref(pixbuf);
    }

    std::uint32_t ChooseSize(std::uint32_t width, std::uint32_t height, std::uint32_t* outWidth,
                             std::uint32_t* outHeight) override;
    std::uint32_t Allocate(std::uint32_t width, std::uint32_t height, RowOutput** out) override;

    // Tells the program about the rows made since the last call, then about
    // a failure, if there is one.
    gboolean Report(std::uint32_t status, GError** error);

private:
    GdkPixbufModuleSizeFunc sizeFunc;
    GdkPixbufModulePreparedFunc preparedFunc;
    GdkPixbufModuleUpdatedFunc updatedFunc;
    gpointer userData;
    GdkPixbuf* pixbuf = nullptr;
    std::unique_ptr<RgbRows> rows;
    // The size asked for, when it was refused as too large.
    int refusedWidth = 0;
    int refusedHeight = 0;

public:
    // Last, so that it goes first: its job writes into `rows`.
    StreamedPicture picture{*this};
};

std::uint32_t LoadContext::ChooseSize(std::uint32_t width, std::uint32_t height,
                                      std::uint32_t* outWidth, std::uint32_t* outHeight) {
    // The engine's limits keep both sides far inside int.
    int w = static_cast<int>(width);
    int h = static_cast<int>(height);
    if (sizeFunc) sizeFunc(&w, &h, userData);
    // A size of 0 (or less) asks for the headers alone: the file's size and type.
    if (w <= 0 || h <= 0) return kStatusOk;
    if (w > limits::kMaxSide || h > limits::kMaxSide ||
        RgbRowStride(static_cast<std::uint64_t>(w)) * static_cast<std::uint64_t>(h) >
            kMaxPixbufBytes) {
        refusedWidth = w;
        refusedHeight = h;
        return kStatusOutOfMemory;
    }
    *outWidth = static_cast<std::uint32_t>(w);
    *outHeight = static_cast<std::uint32_t>(h);
    return kStatusOk;
}

std::uint32_t LoadContext::Allocate(std::uint32_t width, std::uint32_t height, RowOutput** out) {
    // ChooseSize has kept rowstride x height within int.
    const auto w = static_cast<int>(width);
    const auto h = static_cast<int>(height);
    const auto stride = static_cast<gsize>(RgbRowStride(width));
    // Zero-filled, so that rows not yet made show black rather than old
    // memory; large blocks come zeroed from the system at no cost.
    auto* pixels = static_cast<guchar*>(g_try_malloc0_n(height, stride));
    if (!pixels) return kStatusOutOfMemory;
    pixbuf = gdk_pixbuf_new_from_data(
        pixels, GDK_COLORSPACE_RGB, FALSE, 8, w, h, static_cast<int>(stride),
        [](guchar* p, gpointer) { g_free(p); }, nullptr);
    if (!pixbuf) {
        g_free(pixels);
        return kStatusOutOfMemory;
    }
    rows.reset(new (std::nothrow) RgbRows(pixels, stride, width, height));
    if (!rows) return kStatusOutOfMemory;
    if (preparedFunc) preparedFunc(pixbuf, nullptr, userData);
    *out = rows.get();
    return kStatusOk;
}

gboolean LoadContext::Report(std::uint32_t status, GError** error) {
    std::uint32_t top = 0, count = 0;
    if (rows && rows->TakeBand(&top, &count) && updatedFunc) {
        updatedFunc(pixbuf, 0, static_cast<int>(top), gdk_pixbuf_get_width(pixbuf),
                    static_cast<int>(count), userData);
    }
    switch (status) {
        case kStatusOk:
            return TRUE;
        case kStatusOutOfMemory:
            if (refusedWidth > 0) {
                g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                            "An RQ6 picture of %d x %d pixels is too large to load", refusedWidth,
                            refusedHeight);
            } else {
                g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                            "Not enough memory to load the RQ6 picture (status %u)", status);
            }
            return FALSE;
        case kStatusReadFailed:
            g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                        "The RQ6 picture ends before its last row: the file is cut short or "
                        "damaged (status %u)",
                        status);
            return FALSE;
        case kStatusFormatError:
            g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                        "The file is not an RQ6 picture that can be read: it is damaged or of "
                        "an unsupported kind (status %u)",
                        status);
            return FALSE;
        default:
            g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED,
                        "The RQ6 picture could not be loaded (status %u)", status);
            return FALSE;
    }
}

void SetFailed(GError** error, const char* what) {
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "RQ6 loader: %s", what);
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** error) {
    auto* context = new (std::nothrow) LoadContext(sizeFunc, preparedFunc, updatedFunc, userData);
    if (!context) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "Not enough memory to load the RQ6 picture");
    }
    return context;
}

gboolean LoadIncrement(gpointer data, const guchar* bytes, guint size, GError** error) {
    auto* context = static_cast<LoadContext*>(data);
    if (!context) {
        SetFailed(error, "no loading in progress");
        return FALSE;
    }
    try {
        return context->Report(context->picture.Add(bytes, size), error);
    } catch (...) {
        SetFailed(error, "unexpected failure");
        return FALSE;
    }
}

gboolean StopLoad(gpointer data, GError** error) {
    // Called after success and failure alike, once, whatever came before.
    std::unique_ptr<LoadContext> context(static_cast<LoadContext*>(data));
    if (!context) {
        SetFailed(error, "no loading in progress");
        return FALSE;
    }
    try {
        return context->Report(context->picture.End(), error);
    } catch (...) {
        SetFailed(error, "unexpected failure");
        return FALSE;
    }
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
    module->begin_load = BeginLoad;
    module->load_increment = LoadIncrement;
    module->stop_load = StopLoad;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
    // Every RQ6 file starts with these four bytes.
    static GdkPixbufModulePattern signature[] = {
        {const_cast<char*>("RQ61"), nullptr, 100},
        {nullptr, nullptr, 0},
    };
    static const gchar* mimeTypes[] = {"image/x-rq6", nullptr};
    static const gchar* extensions[] = {"rq6", nullptr};
    info->name = const_cast<gchar*>("rq6");
    info->signature = signature;
    info->description = const_cast<gchar*>("RQ6 picture");
    info->mime_types = const_cast<gchar**>(mimeTypes);
    info->extensions = const_cast<gchar**>(extensions);
    // Each loading has a context of its own and there is no shared state.
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = const_cast<gchar*>("MIT");
}

}  // extern "C"
