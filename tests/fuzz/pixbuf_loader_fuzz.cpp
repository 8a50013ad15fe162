// Fuzz target over the gdk-pixbuf loader's entry points, called as gdk-pixbuf
// calls them: the bytes arrive in pieces of random sizes and the program may
// ask for another size. The four job bytes of a conversion seed choose: bit 0
// of the first whether a size is asked for, the next two that size (1 ... 32
// a side), the fourth and the rest of the first the sizes of the pieces; the
// rest is the file. The loader must agree with a whole conversion of the
// file by the engine at the size it made: the same pixels when it succeeds,
// an error exactly when that conversion fails, and every row announced.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/conversion_status.h"
#include "tests/engine/test_support.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

constexpr std::size_t kJobBytes = 4;
constexpr int kMaxAskedSide = 32;

struct Program {
    bool ask = false;
    int askWidth = 0, askHeight = 0;
    int sizeCalls = 0, prepared = 0;
    int width = 0, height = 0;  // the picture's own size, from the size callback
    GdkPixbuf* pixbuf = nullptr;
    long rowsUpdated = 0;
};

void OnSize(gint* w, gint* h, gpointer data) {
    auto* p = static_cast<Program*>(data);
    ++p->sizeCalls;
    p->width = std::exchange(*w, p->ask ? p->askWidth : *w);
    p->height = std::exchange(*h, p->ask ? p->askHeight : *h);
}

void OnPrepared(GdkPixbuf* pixbuf, GdkPixbufAnimation*, gpointer data) {
    ++static_cast<Program*>(data)->prepared;
    static_cast<Program*>(data)->pixbuf = static_cast<GdkPixbuf*>(g_object_ref(pixbuf));
}

void OnUpdated(GdkPixbuf* pixbuf, int x, int y, int w, int h, gpointer data) {
    auto* p = static_cast<Program*>(data);
    FUZZ_CHECK(pixbuf == p->pixbuf && x == 0 && w == gdk_pixbuf_get_width(pixbuf));
    FUZZ_CHECK(y >= 0 && h > 0 && y + h <= gdk_pixbuf_get_height(pixbuf));
    p->rowsUpdated += h;
}

// Piece sizes from a small generator: mostly short, now and then long.
struct Pieces {
    std::uint32_t state;
    std::size_t Next() {
        state = state * 1103515245u + 12345u;
        const std::uint32_t r = state >> 16;
        return r % 4 == 0 ? 1 + r % 4096 : 1 + r % 16;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kJobBytes) return 0;
    static GdkPixbufModule module = [] {
        GdkPixbufModule m{};
        fill_vtable(&m);
        return m;
    }();
    Program program;
    program.ask = data[0] % 2 == 1;
    program.askWidth = 1 + data[1] % kMaxAskedSide;
    program.askHeight = 1 + data[2] % kMaxAskedSide;
    Pieces pieces{static_cast<std::uint32_t>(data[3] | data[0] << 8)};
    const std::uint8_t* file = data + kJobBytes;
    const std::size_t fileSize = size - kJobBytes;

    GError* error = nullptr;
    gpointer context = module.begin_load(OnSize, OnPrepared, OnUpdated, &program, &error);
    FUZZ_CHECK(context && !error);
    bool loaded = true;
    for (std::size_t at = 0; at < fileSize && loaded;) {
        const std::size_t n = std::min(pieces.Next(), fileSize - at);
        loaded = module.load_increment(context, file + at, static_cast<guint>(n), &error);
        FUZZ_CHECK(loaded == !error);
        at += n;
    }
    GError* stopError = nullptr;
    const bool stopped = module.stop_load(context, &stopError);
    FUZZ_CHECK(stopped == !stopError);
    // A failure is final: closing repeats it.
    if (!loaded) FUZZ_CHECK(!stopped);
    loaded = loaded && stopped;
    GError* failure = error ? error : stopError;
    if (failure) {
        FUZZ_CHECK(failure->domain == GDK_PIXBUF_ERROR);
        FUZZ_CHECK(failure->code == GDK_PIXBUF_ERROR_CORRUPT_IMAGE ||
                   failure->code == GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY);
    }
    FUZZ_CHECK(program.sizeCalls <= 1 && program.prepared <= program.sizeCalls);

    // The engine's verdict on the whole file at the size the loader made (any
    // size when the headers were never complete).
    const std::string in = fuzz::ScratchDir() + "/loader.rq6";
    const std::string out = fuzz::ScratchDir() + "/loader.bmp";
    fuzz::WriteFile(in, file, fileSize);
    const int w = program.sizeCalls == 0 ? 1 : program.ask ? program.askWidth : program.width;
    const int h = program.sizeCalls == 0 ? 1 : program.ask ? program.askHeight : program.height;
    const std::uint32_t status = test::Convert(in, out, 1.0, static_cast<std::uint32_t>(w),
                                               static_cast<std::uint32_t>(h), 24)
                                     .status;
    FUZZ_CHECK(loaded == (status == 0));
    if (failure && failure->code == GDK_PIXBUF_ERROR_CORRUPT_IMAGE) {
        FUZZ_CHECK(status == kStatusReadFailed || status == kStatusFormatError);
    }
    if (loaded) {
        FUZZ_CHECK(program.prepared == 1 && program.rowsUpdated == h);
        FUZZ_CHECK(gdk_pixbuf_get_width(program.pixbuf) == w &&
                   gdk_pixbuf_get_height(program.pixbuf) == h);
        const std::vector<std::uint8_t> bmp = fuzz::ReadFile(out);
        const std::size_t stride = (3 * static_cast<std::size_t>(w) + 3) & ~std::size_t{3};
        FUZZ_CHECK(bmp.size() == 54 + stride * static_cast<std::size_t>(h));
        const guchar* pixels = gdk_pixbuf_read_pixels(program.pixbuf);
        const auto rowstride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(program.pixbuf));
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* bgr =
                bmp.data() + 54 + stride * static_cast<std::size_t>(h - 1 - y);
            const guchar* rgb = pixels + rowstride * static_cast<std::size_t>(y);
            for (int x = 0; x < 3 * w; x += 3) {
                FUZZ_CHECK(rgb[x] == bgr[x + 2] && rgb[x + 1] == bgr[x + 1] &&
                           rgb[x + 2] == bgr[x]);
            }
        }
    }
    std::remove(out.c_str());
    if (program.pixbuf) g_object_unref(program.pixbuf);
    if (error) g_error_free(error);
    if (stopError) g_error_free(stopError);
    return 0;
}
