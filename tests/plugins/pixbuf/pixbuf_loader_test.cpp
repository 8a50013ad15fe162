// The gdk-pixbuf loader through gdk-pixbuf's own API, as programs use it,
// with the build tree's loader cache and MIME database (set by ctest). Its
// pixels must be those of the reference conversion in full colour at
// exponent 1, at the picture's size or the size asked for, however the bytes
// arrive; every damaged file must end in an error.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "gtest/gtest.h"
#include "samples/sample_disc.h"
#include "tests/engine/damaged_files.h"
#include "tests/engine/reference_conversion.h"

namespace {

using test::Bytes;
struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, Unref>;
using LoaderPtr = std::unique_ptr<GdkPixbufLoader, Unref>;
using ErrorPtr = std::unique_ptr<GError, decltype(&g_error_free)>;

// A 24-bit BMP's rows (bottom first, B, G, R, padded) as unpadded R, G, B rows, top first.
Bytes RgbOfBmp(const Bytes& bmp, std::uint32_t w, std::uint32_t h) {
    Bytes rgb;
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint8_t* row = bmp.data() + 54 + ((3 * w + 3) & ~3u) * (h - 1 - y);
        for (std::uint32_t x = 0; x < w; ++x)
            rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    return rgb;
}

Bytes Expected(const test::Picture& p, std::uint32_t w, std::uint32_t h) {
    return RgbOfBmp(test::ReferenceBmp(p, 1.0, w, h, 24), w, h);
}

// The pixbuf's pixels in the same form; empty for a pixbuf of another kind.
Bytes RgbOf(GdkPixbuf* p) {
    if (!p || gdk_pixbuf_get_n_channels(p) != 3 || gdk_pixbuf_get_has_alpha(p)) return {};
    Bytes rgb;
    for (int y = 0; y < gdk_pixbuf_get_height(p); ++y) {
        const guchar* row = gdk_pixbuf_read_pixels(p) + y * gdk_pixbuf_get_rowstride(p);
        rgb.insert(rgb.end(), row, row + 3 * gdk_pixbuf_get_width(p));
    }
    return rgb;
}

std::string NameOf(GdkPixbufFormat* format) {
    std::unique_ptr<gchar, decltype(&g_free)> name(gdk_pixbuf_format_get_name(format), g_free);
    return name ? name.get() : "";
}

// Random samples and an odd width (fill bytes in every stored row): long codes.
const test::Picture& Noisy() {
    static std::mt19937 rng(25);
    static const test::Picture p = test::RandomPicture(37, 23, rng);
    return p;
}

// Ramps with a little noise: a handful of byte values, so the code is short
// and rows are made while the bytes still arrive.
const test::Picture& Smooth() {
    static const test::Picture p = [] {
        std::mt19937 rng(6);
        test::Picture s{160, 240, {}};
        for (std::uint32_t i = 0; i < s.width * s.height; ++i) {
            const std::uint32_t x = i % s.width, y = i / s.width, noise = rng() % 3;
            s.bgr.insert(s.bgr.end(), {static_cast<std::uint16_t>(300 * x + noise),
                                       static_cast<std::uint16_t>(200 * y),
                                       static_cast<std::uint16_t>(150 * (x + y) + noise)});
        }
        return s;
    }();
    return p;
}

TEST(PixbufLoader, OpensAtItsOwnSizeOrStraightAtTheSizeAskedFor) {
    const test::Picture dot = test::UniformPicture(1, 1, 100, 20000, 65535);
    struct Case {
        const test::Picture* picture;
        int askW, askH;  // 0: the picture's own size
        gboolean keepAspect;
        std::uint32_t w, h;
    };
    for (const Case& c :
         {Case{&Noisy(), 0, 0, FALSE, 37, 23}, Case{&Smooth(), 0, 0, FALSE, 160, 240},
          Case{&dot, 0, 0, FALSE, 1, 1}, Case{&Noisy(), 20, 9, FALSE, 20, 9},
          Case{&Noisy(), 50, 31, FALSE, 50, 31}, Case{&Smooth(), 40, 40, TRUE, 27, 40},
          Case{&Smooth(), 100, 9, TRUE, 6, 9}, Case{&dot, 3, 2, FALSE, 3, 2}}) {
        test::WritePicture("picture.rq6", *c.picture);
        GError* error = nullptr;
        PixbufPtr pixbuf(c.askW ? gdk_pixbuf_new_from_file_at_scale("picture.rq6", c.askW, c.askH,
                                                                    c.keepAspect, &error)
                                : gdk_pixbuf_new_from_file("picture.rq6", &error));
        ASSERT_TRUE(pixbuf) << error->message;
        EXPECT_EQ(gdk_pixbuf_get_width(pixbuf.get()), static_cast<int>(c.w));
        EXPECT_EQ(gdk_pixbuf_get_height(pixbuf.get()), static_cast<int>(c.h));
        EXPECT_EQ(RgbOf(pixbuf.get()), Expected(*c.picture, c.w, c.h)) << c.w << "x" << c.h;
    }
}

// A viewer: copies the rows each area-updated signal names as they are then,
// so the picture rebuilt from them proves that every row was announced once made.
struct Viewer {
    int prepared = 0, updatesBeforeClose = 0;
    bool closing = false;
    Bytes canvas;

    static void OnPrepared(GdkPixbufLoader* loader, gpointer self) {
        static_cast<Viewer*>(self)->canvas.assign(
            RgbOf(gdk_pixbuf_loader_get_pixbuf(loader)).size(), 0);
        ++static_cast<Viewer*>(self)->prepared;
    }
    static void OnUpdated(GdkPixbufLoader* loader, int x, int y, int w, int h, gpointer self) {
        auto* v = static_cast<Viewer*>(self);
        if (!v->closing) ++v->updatesBeforeClose;
        const Bytes now = RgbOf(gdk_pixbuf_loader_get_pixbuf(loader));
        ASSERT_EQ(x, 0);
        ASSERT_EQ(now.size(), static_cast<std::size_t>(3 * w) *
                                  gdk_pixbuf_get_height(gdk_pixbuf_loader_get_pixbuf(loader)));
        std::copy_n(now.begin() + 3 * w * y, 3 * w * h, v->canvas.begin() + 3 * w * y);
    }
};

TEST(PixbufLoader, PiecesOfAnySizeGiveTheSamePixels) {
    for (const auto* p : {&Noisy(), &Smooth()}) {
        const Bytes file = rq6::EncodeRq6(rq6::BuildPayload(p->width, p->height, p->bgr, "pieces"));
        const Bytes expected = Expected(*p, p->width, p->height);
        for (std::size_t piece : {1, 7, 65536}) {
            SCOPED_TRACE(std::to_string(p->width) + " wide, pieces of " + std::to_string(piece));
            LoaderPtr loader(gdk_pixbuf_loader_new());  // the type is recognised from the bytes
            Viewer v;
            g_signal_connect(loader.get(), "area-prepared", G_CALLBACK(Viewer::OnPrepared), &v);
            g_signal_connect(loader.get(), "area-updated", G_CALLBACK(Viewer::OnUpdated), &v);
            GError* error = nullptr;
            for (std::size_t at = 0; at < file.size(); at += piece) {
                ASSERT_TRUE(gdk_pixbuf_loader_write(loader.get(), &file[at],
                                                    std::min(piece, file.size() - at), &error))
                    << error->message;
            }
            v.closing = true;
            ASSERT_TRUE(gdk_pixbuf_loader_close(loader.get(), &error)) << error->message;
            EXPECT_EQ(NameOf(gdk_pixbuf_loader_get_format(loader.get())), "rq6");
            EXPECT_EQ(RgbOf(gdk_pixbuf_loader_get_pixbuf(loader.get())), expected);
            EXPECT_EQ(v.prepared, 1);
            EXPECT_EQ(v.canvas, expected);
            // Rows are made while the rest arrives, when the code is short.
            if (p == &Smooth() && piece < file.size()) {
                EXPECT_GT(v.updatesBeforeClose, 1);
            }
        }
    }
}

TEST(PixbufLoader, FileInfoReadsOnlyTheHeaders) {
    Bytes file = rq6::EncodeRq6(rq6::BuildPayload(37, 23, Noisy().bgr, "cut"));
    file.resize(file.size() / 2);  // the rows are cut; the headers alone give the size
    test::WriteRaw("half.rq6", file);
    int w = 0, h = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info("half.rq6", &w, &h);
    ASSERT_TRUE(format);
    EXPECT_EQ(w, 37);
    EXPECT_EQ(h, 23);
    EXPECT_EQ(NameOf(format), "rq6");
    EXPECT_FALSE(gdk_pixbuf_format_is_writable(format));
}

// Feeds the bytes to a loader of the RQ6 type in pieces of 7; the error, if any.
ErrorPtr LoadError(const Bytes& file, int width = 0, int height = 0) {
    LoaderPtr loader(gdk_pixbuf_loader_new_with_type("rq6", nullptr));
    if (width > 0) gdk_pixbuf_loader_set_size(loader.get(), width, height);
    GError* error = nullptr;
    for (std::size_t at = 0; at < file.size() && !error; at += 7) {
        gdk_pixbuf_loader_write(loader.get(), &file[at], std::min<std::size_t>(7, file.size() - at),
                                &error);
    }
    // Closing after a failed write, as programs do, without an error to fill.
    gdk_pixbuf_loader_close(loader.get(), error ? nullptr : &error);
    return ErrorPtr(error, g_error_free);
}

TEST(PixbufLoader, EveryDamagedFileEndsInAnError) {
    for (const test::DamagedFile& bad : test::DamagedFiles()) {
        const ErrorPtr error = LoadError(bad.make());
        // The table holds odd files that are still pictures.
        ASSERT_EQ(error == nullptr, bad.status == 0) << bad.name;
        if (error) {
            EXPECT_TRUE(
                g_error_matches(error.get(), GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE))
                << bad.name;
        }
        // Opened as a file: an error from the loader, or from gdk-pixbuf for bytes that are no RQ6
        // file.
        test::WriteRaw("damaged.rq6", bad.make());
        GError* fileError = nullptr;
        PixbufPtr pixbuf(gdk_pixbuf_new_from_file("damaged.rq6", &fileError));
        EXPECT_EQ(fileError != nullptr, !pixbuf) << bad.name;
        EXPECT_EQ(!pixbuf, bad.status != 0) << bad.name;
        if (fileError) g_error_free(fileError);
    }
    const Bytes whole = test::LayoutOf(test::SmallPicture(), "cut").file;
    for (std::size_t keep = 0; keep < whole.size(); ++keep) {
        const ErrorPtr error = LoadError(Bytes(whole.begin(), whole.begin() + keep));
        ASSERT_TRUE(error) << keep;
        EXPECT_EQ(error->code, GDK_PIXBUF_ERROR_CORRUPT_IMAGE) << keep << ": " << error->message;
    }
}

TEST(PixbufLoader, SizesBeyondWhatAPixbufHoldsAreRefusedBeforeAllocating) {
    const Bytes file = rq6::EncodeRq6(rq6::BuildPayload(37, 23, Noisy().bgr, ""));
    // 32767 x 32767 x 3 bytes is over G_MAXINT; 32768 and 40000 are beyond the engine's sides.
    for (const auto& [w, h] : {std::pair{32767, 32767}, {32768, 1}, {1, 40000}}) {
        const ErrorPtr error = LoadError(file, w, h);
        ASSERT_TRUE(error) << w << "x" << h;
        EXPECT_EQ(error->code, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY) << error->message;
    }
    EXPECT_FALSE(LoadError(file, 30000, 2));
}

TEST(PixbufLoader, TheThumbnailerMakesAPngOfASamplePicture) {
    test::Picture sample{640, 480, std::vector<std::uint16_t>(3 * 640 * 480)};
    for (std::uint32_t y = 0; y < 480; ++y)
        rq6::SampleRow(10, 640, 480, y, &sample.bgr[3 * 640 * y]);
    test::WritePicture("Sg010.rq6", sample);
    std::remove("thumbnail.png");
    const gchar* argv[] = {"gdk-pixbuf-thumbnailer", "-s",   "128", "Sg010.rq6",
                           "thumbnail.png",          nullptr};
    gchar** env = g_get_environ();
#ifdef TAVREL_SANITIZER_RUNTIME
    // This build's loader needs the sanitizers' run-time in the program.
    env = g_environ_setenv(env, "LD_PRELOAD", TAVREL_SANITIZER_RUNTIME, TRUE);
    env = g_environ_setenv(env, "ASAN_OPTIONS", "detect_leaks=0", TRUE);
#endif
    gint waitStatus = -1;
    GError* error = nullptr;
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv), env, G_SPAWN_SEARCH_PATH, nullptr,
                             nullptr, nullptr, nullptr, &waitStatus, &error));
    g_strfreev(env);
    EXPECT_TRUE(g_spawn_check_wait_status(waitStatus, nullptr));
    const Bytes png = test::ReadBytes("thumbnail.png");
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10}));
    // Made by the engine at 128 x 96 directly, as `tavrel convert` makes it.
    PixbufPtr thumbnail(gdk_pixbuf_new_from_file("thumbnail.png", &error));
    ASSERT_TRUE(thumbnail) << error->message;
    EXPECT_EQ(RgbOf(thumbnail.get()),
              RgbOfBmp(test::ConvertedBytes("Sg010.rq6", 1.0, 128, 96, 24), 128, 96));
}

}  // namespace
