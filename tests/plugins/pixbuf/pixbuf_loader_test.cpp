// The gdk-pixbuf loader as programs use it: through gdk-pixbuf's own API,
// with the build tree's loader cache (GDK_PIXBUF_MODULE_FILE) and MIME
// database (XDG_DATA_DIRS), which ctest sets. Its pixels must be those of the
// plain reference conversion in full colour at exponent 1, at the picture's
// own size or at the size asked for, however the bytes arrive; every damaged
// file must end in an error.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "samples/sample_disc.h"
#include "tests/engine/damaged_files.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, Unref>;
using LoaderPtr = std::unique_ptr<GdkPixbufLoader, Unref>;
struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

// A 24-bit BMP's rows (bottom first, B, G, R, padded) as unpadded R, G, B
// rows, top first.
Bytes RgbOfBmp(const Bytes& bmp, std::uint32_t w, std::uint32_t h) {
    const std::size_t stride = (3 * w + 3) & ~3u;
    Bytes rgb;
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint8_t* row = bmp.data() + 54 + stride * (h - 1 - y);
        for (std::uint32_t x = 0; x < w; ++x) {
            rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
        }
    }
    return rgb;
}

Bytes Expected(const test::Picture& p, std::uint32_t w, std::uint32_t h) {
    return RgbOfBmp(test::ReferenceBmp(p, 1.0, w, h, 24), w, h);
}

// The pixbuf's pixels in the same form; empty for a pixbuf of another kind.
Bytes RgbOf(GdkPixbuf* p) {
    if (!p || gdk_pixbuf_get_n_channels(p) != 3 || gdk_pixbuf_get_has_alpha(p) ||
        gdk_pixbuf_get_bits_per_sample(p) != 8) {
        return {};
    }
    const auto w = static_cast<std::size_t>(gdk_pixbuf_get_width(p));
    Bytes rgb;
    for (int y = 0; y < gdk_pixbuf_get_height(p); ++y) {
        const guchar* row = gdk_pixbuf_read_pixels(p) + y * gdk_pixbuf_get_rowstride(p);
        rgb.insert(rgb.end(), row, row + 3 * w);
    }
    return rgb;
}

// Random samples and an odd width (fill bytes in every stored row): a code
// with long words.
const test::Picture& Noisy() {
    static const test::Picture p = [] {
        std::mt19937 rng(25);
        return test::RandomPicture(37, 23, rng);
    }();
    return p;
}

// Ramps with a little noise: the rows' differences take a handful of byte
// values, so the code is short and rows are made while the bytes still
// arrive.
const test::Picture& Smooth() {
    static const test::Picture p = [] {
        std::mt19937 rng(6);
        test::Picture s{160, 240, {}};
        for (std::uint32_t y = 0; y < s.height; ++y) {
            for (std::uint32_t x = 0; x < s.width; ++x) {
                const auto noise = static_cast<std::uint16_t>(rng() % 3);
                s.bgr.insert(s.bgr.end(), {static_cast<std::uint16_t>(300 * x + noise),
                                           static_cast<std::uint16_t>(200 * y),
                                           static_cast<std::uint16_t>(150 * (x + y) + noise)});
            }
        }
        return s;
    }();
    return p;
}

std::string Written(const test::Picture& p, const std::string& name) {
    test::WritePicture(name, p);
    return name;
}

TEST(PixbufLoader, OpensAPictureAtItsOwnSize) {
    const test::Picture dot = test::UniformPicture(1, 1, 100, 20000, 65535);
    for (const auto* p : {&Noisy(), &Smooth(), &dot}) {
        const std::string path = Written(*p, "own.rq6");
        GError* error = nullptr;
        PixbufPtr pixbuf(gdk_pixbuf_new_from_file(path.c_str(), &error));
        ASSERT_TRUE(pixbuf) << (error ? error->message : "");
        EXPECT_EQ(gdk_pixbuf_get_width(pixbuf.get()), static_cast<int>(p->width));
        EXPECT_EQ(gdk_pixbuf_get_height(pixbuf.get()), static_cast<int>(p->height));
        EXPECT_EQ(RgbOf(pixbuf.get()), Expected(*p, p->width, p->height)) << p->width;
    }
}

TEST(PixbufLoader, ConvertsStraightToTheSizeAskedFor) {
    struct Case {
        const test::Picture* picture;
        int askW, askH;
        gboolean keepAspect;
        std::uint32_t w, h;
    };
    const std::string noisy = Written(Noisy(), "noisy.rq6");
    const std::string smooth = Written(Smooth(), "smooth.rq6");
    for (const Case& c : {Case{&Noisy(), 20, 9, FALSE, 20, 9}, Case{&Noisy(), 50, 31, FALSE, 50, 31},
                          Case{&Smooth(), 40, 40, TRUE, 27, 40}, Case{&Smooth(), 100, 9, TRUE, 6, 9}}) {
        const std::string& path = c.picture == &Noisy() ? noisy : smooth;
        GError* error = nullptr;
        PixbufPtr pixbuf(gdk_pixbuf_new_from_file_at_scale(path.c_str(), c.askW, c.askH,
                                                           c.keepAspect, &error));
        ASSERT_TRUE(pixbuf) << (error ? error->message : "");
        EXPECT_EQ(gdk_pixbuf_get_width(pixbuf.get()), static_cast<int>(c.w));
        EXPECT_EQ(gdk_pixbuf_get_height(pixbuf.get()), static_cast<int>(c.h));
        EXPECT_EQ(RgbOf(pixbuf.get()), Expected(*c.picture, c.w, c.h)) << c.w << "x" << c.h;
    }
}

// What a viewer sees: the signals of a loader fed piece by piece. The rows
// each area-updated signal names are copied as they are then, so the picture
// rebuilt from them proves that every row was announced once it was made.
struct Viewer {
    int prepared = 0;
    int updates = 0;
    int updatesBeforeClose = 0;
    bool closing = false;
    Bytes canvas;

    static void OnPrepared(GdkPixbufLoader* loader, gpointer self) {
        auto* v = static_cast<Viewer*>(self);
        ++v->prepared;
        v->canvas.assign(RgbOf(gdk_pixbuf_loader_get_pixbuf(loader)).size(), 0);
    }
    static void OnUpdated(GdkPixbufLoader* loader, int x, int y, int w, int h, gpointer self) {
        auto* v = static_cast<Viewer*>(self);
        ++v->updates;
        if (!v->closing) ++v->updatesBeforeClose;
        const Bytes now = RgbOf(gdk_pixbuf_loader_get_pixbuf(loader));
        const std::size_t rowBytes = now.size() / static_cast<std::size_t>(gdk_pixbuf_get_height(
                                         gdk_pixbuf_loader_get_pixbuf(loader)));
        ASSERT_EQ(x, 0);
        ASSERT_EQ(static_cast<std::size_t>(3 * w), rowBytes);
        std::copy_n(now.begin() + y * rowBytes, h * rowBytes, v->canvas.begin() + y * rowBytes);
    }
};

TEST(PixbufLoader, PiecesOfAnySizeGiveTheSamePixels) {
    for (const auto* p : {&Noisy(), &Smooth()}) {
        test::WritePicture("pieces.rq6", *p);
        const Bytes file = test::ReadBytes("pieces.rq6");
        const Bytes expected = Expected(*p, p->width, p->height);
        for (std::size_t piece : {1, 7, 65536}) {
            SCOPED_TRACE(std::to_string(p->width) + " wide, pieces of " + std::to_string(piece));
            // Not told the type: gdk-pixbuf recognises it from the bytes.
            LoaderPtr loader(gdk_pixbuf_loader_new());
            Viewer v;
            g_signal_connect(loader.get(), "area-prepared", G_CALLBACK(Viewer::OnPrepared), &v);
            g_signal_connect(loader.get(), "area-updated", G_CALLBACK(Viewer::OnUpdated), &v);
            GError* error = nullptr;
            for (std::size_t at = 0; at < file.size(); at += piece) {
                const std::size_t n = std::min(piece, file.size() - at);
                ASSERT_TRUE(gdk_pixbuf_loader_write(loader.get(), &file[at], n, &error))
                    << error->message;
            }
            v.closing = true;
            ASSERT_TRUE(gdk_pixbuf_loader_close(loader.get(), &error)) << error->message;
            GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader.get());
            ASSERT_TRUE(format);
            EXPECT_STREQ(gdk_pixbuf_format_get_name(format), "rq6");
            EXPECT_EQ(RgbOf(gdk_pixbuf_loader_get_pixbuf(loader.get())), expected);
            EXPECT_EQ(v.prepared, 1);
            EXPECT_EQ(v.canvas, expected);
            // The smooth picture's short code lets rows be made early; viewers
            // draw them while the rest arrives.
            if (p == &Smooth() && piece < file.size()) {
                EXPECT_GT(v.updatesBeforeClose, 1);
            }
        }
    }
}

TEST(PixbufLoader, FileInfoReadsOnlyTheHeaders) {
    // The rows are cut away: the headers alone give the size.
    Bytes file = rq6::EncodeRq6(
        rq6::BuildPayload(Noisy().width, Noisy().height, Noisy().bgr, "cut"));
    file.resize(file.size() / 2);
    test::WriteRaw("half.rq6", file);
    int w = 0, h = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info("half.rq6", &w, &h);
    ASSERT_TRUE(format);
    EXPECT_EQ(w, 37);
    EXPECT_EQ(h, 23);
    EXPECT_STREQ(gdk_pixbuf_format_get_name(format), "rq6");
    gchar** types = gdk_pixbuf_format_get_mime_types(format);
    gchar** extensions = gdk_pixbuf_format_get_extensions(format);
    gchar* licence = gdk_pixbuf_format_get_license(format);
    EXPECT_STREQ(types[0], "image/x-rq6");
    EXPECT_STREQ(extensions[0], "rq6");
    EXPECT_STREQ(licence, "MIT");
    EXPECT_FALSE(gdk_pixbuf_format_is_writable(format));
    EXPECT_FALSE(gdk_pixbuf_format_is_scalable(format));
    g_strfreev(types);
    g_strfreev(extensions);
    g_free(licence);
}

// Feeds the bytes to a loader of the RQ6 type in pieces of 7; the error, or
// none when the picture loaded.
ErrorPtr LoadError(const Bytes& file, int width = 0, int height = 0) {
    LoaderPtr loader(gdk_pixbuf_loader_new_with_type("rq6", nullptr));
    if (!loader) return ErrorPtr(g_error_new_literal(G_FILE_ERROR, 0, "no rq6 loader"));
    if (width > 0) gdk_pixbuf_loader_set_size(loader.get(), width, height);
    GError* error = nullptr;
    for (std::size_t at = 0; at < file.size() && !error; at += 7) {
        gdk_pixbuf_loader_write(loader.get(), &file[at], std::min<std::size_t>(7, file.size() - at),
                                &error);
    }
    // Closing after a failed write is what programs do; it must say nothing new.
    gdk_pixbuf_loader_close(loader.get(), error ? nullptr : &error);
    return ErrorPtr(error);
}

TEST(PixbufLoader, EveryDamagedFileEndsInAnError) {
    int loaded = 0;
    for (const test::DamagedFile& bad : test::DamagedFiles()) {
        SCOPED_TRACE(bad.name);
        const Bytes file = bad.make();
        const ErrorPtr error = LoadError(file);
        if (bad.status == 0) {
            EXPECT_FALSE(error) << error->message;
            ++loaded;
            continue;
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, GDK_PIXBUF_ERROR);
        EXPECT_EQ(error->code, GDK_PIXBUF_ERROR_CORRUPT_IMAGE) << error->message;
        // Opened as a file: an error as well, from the loader or, for bytes
        // that are no RQ6 file at all, from gdk-pixbuf.
        test::WriteRaw("damaged.rq6", file);
        GError* fileError = nullptr;
        EXPECT_FALSE(gdk_pixbuf_new_from_file("damaged.rq6", &fileError));
        EXPECT_TRUE(fileError);
        if (fileError) g_error_free(fileError);
    }
    EXPECT_GT(loaded, 0);  // the table holds odd files that are still pictures
}

TEST(PixbufLoader, AFileCutAnywhereEndsInAnError) {
    const test::StreamLayout layout = test::LayoutOf(test::SmallPicture(), "cut");
    for (std::size_t keep = 0; keep < layout.file.size(); ++keep) {
        const ErrorPtr error = LoadError(Bytes(layout.file.begin(), layout.file.begin() + keep));
        ASSERT_TRUE(error) << keep;
        EXPECT_EQ(error->code, GDK_PIXBUF_ERROR_CORRUPT_IMAGE) << keep << ": " << error->message;
    }
    EXPECT_FALSE(LoadError(layout.file));
}

TEST(PixbufLoader, SizesBeyondWhatAPixbufHoldsAreRefusedBeforeAllocating) {
    test::WritePicture("big.rq6", Noisy());
    const Bytes file = test::ReadBytes("big.rq6");
    // 32767 x 32767 x 3 bytes is over G_MAXINT; 32768 is beyond the engine's sides.
    for (const auto& [w, h] : {std::pair{32767, 32767}, {32768, 1}, {1, 40000}}) {
        const ErrorPtr error = LoadError(file, w, h);
        ASSERT_TRUE(error) << w << "x" << h;
        EXPECT_EQ(error->code, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY) << error->message;
    }
    EXPECT_FALSE(LoadError(file, 30000, 2));
}

TEST(PixbufLoader, TheThumbnailerMakesAPngOfASamplePicture) {
    test::Picture sample{640, 480, {}};
    sample.bgr.resize(3 * 640 * 480);
    for (std::uint32_t y = 0; y < 480; ++y) rq6::SampleRow(10, 640, 480, y, &sample.bgr[3 * 640 * y]);
    test::WritePicture("Sg010.rq6", sample);
    std::remove("thumbnail.png");
    gchar* argv[] = {const_cast<gchar*>("gdk-pixbuf-thumbnailer"), const_cast<gchar*>("-s"),
                     const_cast<gchar*>("128"), const_cast<gchar*>("Sg010.rq6"),
                     const_cast<gchar*>("thumbnail.png"), nullptr};
    gchar** env = g_get_environ();
#ifdef TAVREL_SANITIZER_RUNTIME
    // The loader of this build needs the sanitizers' run-time in the program.
    env = g_environ_setenv(env, "LD_PRELOAD", TAVREL_SANITIZER_RUNTIME, TRUE);
    env = g_environ_setenv(env, "ASAN_OPTIONS", "detect_leaks=0", TRUE);
#endif
    gint exitStatus = -1;
    gchar* err = nullptr;
    GError* error = nullptr;
    const gboolean ran = g_spawn_sync(nullptr, argv, env, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                      nullptr, &err, &exitStatus, &error);
    g_strfreev(env);
    ASSERT_TRUE(ran) << error->message;
    EXPECT_TRUE(g_spawn_check_wait_status(exitStatus, nullptr)) << err;
    g_free(err);
    const Bytes png = test::ReadBytes("thumbnail.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10}));
    PixbufPtr thumbnail(gdk_pixbuf_new_from_file("thumbnail.png", &error));
    ASSERT_TRUE(thumbnail) << error->message;
    // Made by the engine at 128 x 96 directly, as `tavrel convert` makes it.
    EXPECT_EQ(RgbOf(thumbnail.get()),
              RgbOfBmp(test::ConvertedBytes("Sg010.rq6", 1.0, 128, 96, 24), 128, 96));
}

}  // namespace
