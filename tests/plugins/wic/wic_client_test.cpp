// The RQ6 decoder as Windows programs meet it: through WIC's factory, in a
// throwaway Wine prefix where regsvr32 registered tavrel_wic.dll for all
// users (scripts/wic-prefix.sh). Pictures written here by the project's
// writer must come back sample for sample; the full-size sample picture is
// compared with the native tool's 16-bit extract too, where the build beside
// this one made it. The Unregistered cases run after regsvr32 /u.
#include <windows.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "plugins/wic/codec_ids.h"
#include "samples/sample_disc.h"
#include "plugins/wic/source_transform.h"
#include "tests/engine/bad_files.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() {
        if (p) p->Release();
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    T* get() const { return p; }

private:
    T* p = nullptr;
};

IWICImagingFactory* factory = nullptr;

class ComEnvironment : public ::testing::Environment {
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr,
                                                  CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)));
    }
    void TearDown() override {
        if (factory) factory->Release();
        CoUninitialize();
    }
};
const auto* const kCom = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A picture's samples as 48bppRGB: top row first, red, green, blue, little-endian.
Bytes Rgb48(const test::Picture& p) {
    Bytes out;
    for (std::uint32_t top = 0; top < p.height; ++top) {
        for (std::uint32_t x = 0; x < p.width; ++x) {
            for (int c : {2, 1, 0}) {
                const std::uint16_t v = p.At(x, p.height - 1 - top, c);
                out.push_back(static_cast<std::uint8_t>(v));
                out.push_back(static_cast<std::uint8_t>(v >> 8));
            }
        }
    }
    return out;
}

struct Decoded {
    HRESULT hr = E_FAIL;  // of the first step that failed
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = {};
    Bytes pixels;
};

Decoded ReadFrame(IWICBitmapDecoder* decoder) {
    Decoded d;
    Ref<IWICBitmapFrameDecode> frame;
    if (FAILED(d.hr = decoder->GetFrame(0, &frame))) return d;
    frame->GetSize(&d.width, &d.height);
    frame->GetPixelFormat(&d.format);
    d.pixels.assign(std::size_t{6} * d.width * d.height, 0);
    d.hr = frame->CopyPixels(nullptr, 6 * d.width, static_cast<UINT>(d.pixels.size()),
                             d.pixels.data());
    return d;
}

Decoded FromFile(const std::string& path) {
    Ref<IWICBitmapDecoder> decoder;
    Decoded d;
    d.hr = factory->CreateDecoderFromFilename(Wide(path).c_str(), nullptr, GENERIC_READ,
                                              WICDecodeMetadataCacheOnDemand, &decoder);
    return FAILED(d.hr) ? d : ReadFrame(decoder.get());
}

Decoded FromStream(IStream* stream) {
    Ref<IWICBitmapDecoder> decoder;
    Decoded d;
    d.hr = factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand,
                                            &decoder);
    return FAILED(d.hr) ? d : ReadFrame(decoder.get());
}

Decoded FromMemory(const Bytes& bytes) {
    Ref<IWICStream> stream;
    factory->CreateStream(&stream);
    stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    return FromStream(stream.get());
}

const test::Picture& RandomPicture() {
    static const test::Picture picture = [] {
        std::mt19937 rng(26);
        return test::RandomPicture(37, 23, rng);  // odd width: stored rows are padded
    }();
    return picture;
}

std::string RandomFile() {
    test::WritePicture("random.rq6", RandomPicture());
    return "random.rq6";
}

std::wstring RegistryText(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t text[512] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return L"(none)";
    }
    return text;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

const std::wstring kClsid = GuidText(wic::kDecoderClsid);
const std::wstring kThumbnailKey =
    L"SystemFileAssociations\\.rq6\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

bool DecoderListed() {
    Ref<IEnumUnknown> all;
    EXPECT_HRESULT_SUCCEEDED(
        factory->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, &all));
    IUnknown* item = nullptr;
    ULONG n = 0;
    bool found = false;
    while (all.get() && all->Next(1, &item, &n) == S_OK) {
        Ref<IWICBitmapDecoderInfo> info;
        item->QueryInterface(IID_PPV_ARGS(&info));
        item->Release();
        CLSID clsid = {};
        if (info.get() && SUCCEEDED(info->GetCLSID(&clsid)) &&
            IsEqualCLSID(clsid, wic::kDecoderClsid)) {
            found = true;
        }
    }
    return found;
}

// ---------------------------------------------------------------------------

TEST(Registered, TheFactoryListsTheDecoderWithItsRegistration) {
    ASSERT_TRUE(DecoderListed());
    Ref<IWICComponentInfo> component;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateComponentInfo(wic::kDecoderClsid, &component));
    Ref<IWICBitmapDecoderInfo> info;
    ASSERT_HRESULT_SUCCEEDED(component->QueryInterface(IID_PPV_ARGS(&info)));
    wchar_t text[256];
    UINT n = 0;
    GUID guid = {};
    info->GetFriendlyName(256, text, &n);
    EXPECT_STREQ(text, wic::kFriendlyName);
    info->GetFileExtensions(256, text, &n);
    EXPECT_STREQ(text, L".rq6");
    info->GetMimeTypes(256, text, &n);
    EXPECT_STREQ(text, L"image/x-rq6");
    info->GetContainerFormat(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, wic::kContainerFormat));
    info->GetVendorGUID(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, wic::kVendor));
    GUID formats[4] = {};
    ASSERT_HRESULT_SUCCEEDED(info->GetPixelFormats(4, formats, &n));
    ASSERT_EQ(n, 1u);
    EXPECT_TRUE(IsEqualGUID(formats[0], GUID_WICPixelFormat48bppRGB));
    // What Explorer reads.
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\InprocServer32",
                           L"ThreadingModel"), L"Both");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L".rq6", L"Content Type"), L"image/x-rq6");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L".rq6", L"PerceivedType"), L"image");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, kThumbnailKey, nullptr),
              L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}");
}

TEST(Registered, OpensAPictureByNameAndFromMemorySampleForSample) {
    const Bytes expected = Rgb48(RandomPicture());
    for (const Decoded& d : {FromFile(RandomFile()), FromMemory(test::ReadBytes("random.rq6"))}) {
        ASSERT_HRESULT_SUCCEEDED(d.hr);
        EXPECT_EQ(d.width, 37u);
        EXPECT_EQ(d.height, 23u);
        EXPECT_TRUE(IsEqualGUID(d.format, GUID_WICPixelFormat48bppRGB));
        EXPECT_EQ(d.pixels, expected);
    }
}

TEST(Registered, CopiesAnyPartAtAnyStrideAndRefusesWhatDoesNotFit) {
    Ref<IWICBitmapDecoder> decoder;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateDecoderFromFilename(
        Wide(RandomFile()).c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
        &decoder));
    Ref<IWICBitmapFrameDecode> frame;
    ASSERT_HRESULT_SUCCEEDED(decoder->GetFrame(0, &frame));
    const Bytes whole = Rgb48(RandomPicture());
    struct Case {
        WICRect rect;
        UINT stride;
        int room;  // bytes of buffer beyond what the part needs
        HRESULT expected;
    };
    const Case cases[] = {
        {{0, 0, 37, 23}, 222, 0, S_OK},
        {{36, 22, 1, 1}, 6, 0, S_OK},
        {{5, 7, 10, 3}, 67, 9, S_OK},  // an odd stride: rows need no alignment
        {{0, 22, 37, 1}, 300, 0, S_OK},
        {{0, 0, 37, 23}, 222, -1, WINCODEC_ERR_INSUFFICIENTBUFFER},
        {{0, 0, 37, 23}, 221, 100, E_INVALIDARG},
        {{-1, 0, 2, 2}, 12, 0, E_INVALIDARG},
        {{30, 0, 8, 1}, 48, 0, E_INVALIDARG},
        {{0, 20, 1, 4}, 6, 0, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        const WICRect& r = c.rect;
        const std::size_t need = (r.Height - 1) * std::size_t{c.stride} + 6 * r.Width;
        Bytes buffer(need + c.room + 16, 0xA5);
        EXPECT_EQ(frame->CopyPixels(&r, c.stride, static_cast<UINT>(need + c.room), buffer.data()),
                  c.expected)
            << r.X << "," << r.Y << " " << r.Width << "x" << r.Height << " stride " << c.stride;
        Bytes want(buffer.size(), 0xA5);
        for (int y = 0; c.expected == S_OK && y < r.Height; ++y) {
            std::memcpy(want.data() + y * std::size_t{c.stride},
                        whole.data() + ((r.Y + y) * 37 + r.X) * 6, 6 * r.Width);
        }
        EXPECT_EQ(buffer, want) << "part " << r.X << "," << r.Y;  // nothing outside it touched
    }
}

TEST(Registered, TheDecoderObjectItself) {
    Ref<IWICBitmapDecoder> decoder;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(wic::kDecoderClsid, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_PPV_ARGS(&decoder)));
    UINT count = 0;
    EXPECT_EQ(decoder->GetFrameCount(&count), WINCODEC_ERR_NOTINITIALIZED);
    rq6::PayloadFields fields;
    fields.biXPelsPerMeter = 11811;  // 300 dpi
    fields.biYPelsPerMeter = 0;      // none
    test::WritePicture("dense.rq6", RandomPicture(), "", fields);
    const Bytes file = test::ReadBytes("dense.rq6");
    Ref<IStream> stream;
    *&stream = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    // QueryCapability reads the headers and puts the stream back where it was.
    LARGE_INTEGER seven = {};
    seven.QuadPart = 7;
    ULARGE_INTEGER at = {};
    stream->Seek(seven, STREAM_SEEK_SET, nullptr);
    DWORD capability = 0;
    ASSERT_HRESULT_SUCCEEDED(decoder->QueryCapability(stream.get(), &capability));
    EXPECT_EQ(capability, static_cast<DWORD>(WICBitmapDecoderCapabilityCanDecodeAllImages));
    stream->Seek({}, STREAM_SEEK_CUR, &at);
    EXPECT_EQ(at.QuadPart, 7u);
    // Initialize starts at the beginning, wherever the stream stands.
    ASSERT_HRESULT_SUCCEEDED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnLoad));
    EXPECT_EQ(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnLoad),
              WINCODEC_ERR_WRONGSTATE);
    EXPECT_EQ(decoder->GetFrameCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ref<IWICBitmapFrameDecode> frame;
    EXPECT_EQ(decoder->GetFrame(1, &frame), WINCODEC_ERR_FRAMEMISSING);
    ASSERT_HRESULT_SUCCEEDED(decoder->GetFrame(0, &frame));
    double dpiX = 0, dpiY = 0;
    frame->GetResolution(&dpiX, &dpiY);
    EXPECT_NEAR(dpiX, 300.0, 0.01);
    EXPECT_EQ(dpiY, 96.0);
    Ref<IWICBitmapSource> thumbnail;
    EXPECT_EQ(frame->GetThumbnail(&thumbnail), WINCODEC_ERR_CODECNOTHUMBNAIL);
    // A scaled copy: exactly the reference conversion's area averages, any
    // part of them; 48-bit RGB only, and no rotation.
    Ref<wic::IWICBitmapSourceTransform> transform;
    ASSERT_HRESULT_SUCCEEDED(
        frame->QueryInterface(wic::kIidSourceTransform, reinterpret_cast<void**>(&transform)));
    BOOL supported = FALSE;
    transform->DoesSupportTransform(WICBitmapTransformRotate90, &supported);
    EXPECT_FALSE(supported);
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    transform->GetClosestPixelFormat(&format);
    EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat48bppRGB));
    const Bytes bmp = test::ReferenceBmp(RandomPicture(), 1.0, 10, 7, 48);
    const WICRect part = {2, 1, 5, 4};
    Bytes out(6 * 5 * 4);
    ASSERT_HRESULT_SUCCEEDED(transform->CopyPixels(&part, 10, 7, &format,
                                                   WICBitmapTransformRotate0, 30, 120, out.data()));
    for (int i = 0; i < 60; ++i) {  // samples: 5 pixels by 3 of each of 4 rows
        const BYTE* want = bmp.data() + 54 + 60 * (5 - i / 15) + 6 * (2 + i % 15 / 3) + 2 * (2 - i % 3);
        ASSERT_TRUE(out[2 * i] == want[0] && out[2 * i + 1] == want[1]) << "sample " << i;
    }
    format = GUID_WICPixelFormat32bppBGRA;
    EXPECT_EQ(transform->CopyPixels(nullptr, 10, 7, &format, WICBitmapTransformRotate0, 60, 420,
                                    out.data()), WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT);
    // Another format's file is not claimed.
    const BYTE png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    Ref<IStream> other;
    *&other = SHCreateMemStream(png, sizeof png);
    EXPECT_HRESULT_SUCCEEDED(decoder->QueryCapability(other.get(), &capability));
    EXPECT_EQ(capability, 0u);
}

// ---------------------------------------------------------------------------
// The full-size sample picture: the native tool's, where scripts/wic-prefix.sh
// had it write one beside its extract, else written here.

constexpr std::uint32_t kW = rq6::kSampleWidth;
constexpr std::uint32_t kH = rq6::kSampleHeight;

std::string SamplePicture() {
    if (!test::FileExists("Sg010.rq6")) {
        EXPECT_TRUE(rq6::WriteRq6File("Sg010.rq6", kW, kH, rq6::SampleComment(10),
                                      [](std::uint32_t y, std::uint16_t* bgr) {
                                          rq6::SampleRow(10, kW, kH, y, bgr);
                                      }));
    }
    return "Sg010.rq6";
}

TEST(Registered, TheFullSizeSamplePictureComesBackSampleForSample) {
    const Decoded d = FromFile(SamplePicture());
    ASSERT_HRESULT_SUCCEEDED(d.hr);
    ASSERT_EQ(d.width, kW);
    ASSERT_EQ(d.height, kH);
    std::vector<std::uint16_t> bgr(3 * kW);
    for (std::uint32_t top = 0; top < kH; ++top) {
        rq6::SampleRow(10, kW, kH, kH - 1 - top, bgr.data());
        const std::uint8_t* row = d.pixels.data() + std::size_t{6} * kW * top;
        for (std::uint32_t i = 0; i < 3 * kW; ++i) {
            const std::uint16_t want = bgr[i / 3 * 3 + 2 - i % 3];
            ASSERT_EQ(row[2 * i] | row[2 * i + 1] << 8, want) << "row " << top << " sample " << i;
        }
    }
}

TEST(Registered, TheFullSizeSamplePictureEqualsTheToolsExtract) {
    std::ifstream ppm("Sg010.ppm", std::ios::binary);
    if (!ppm) GTEST_SKIP() << "no Sg010.ppm: no native tavrel was built beside this build";
    std::string magic;
    std::uint32_t width = 0, height = 0, maxval = 0;
    ppm >> magic >> width >> height >> maxval;
    ppm.get();
    ASSERT_EQ(magic + " " + std::to_string(width) + " " + std::to_string(height) + " " +
                  std::to_string(maxval), "P6 3200 2400 65535");
    Bytes extract(std::size_t{6} * width * height);
    ASSERT_TRUE(ppm.read(reinterpret_cast<char*>(extract.data()), extract.size()));
    const Decoded d = FromFile(SamplePicture());
    ASSERT_HRESULT_SUCCEEDED(d.hr);
    ASSERT_EQ(d.pixels.size(), extract.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < extract.size(); i += 2) {  // PPM samples are big-endian
        differing += d.pixels[i] != extract[i + 1] || d.pixels[i + 1] != extract[i];
    }
    EXPECT_EQ(differing, 0u);
}

// The pixels of `source`, w x h, converted to 32bppBGRA by WIC.
Bytes Bgra(IWICBitmapSource* source, UINT w, UINT h) {
    Ref<IWICBitmapSource> bgra;
    Bytes out(std::size_t{4} * w * h);
    if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, source, &bgra)) ||
        FAILED(bgra->CopyPixels(nullptr, 4 * w, static_cast<UINT>(out.size()), out.data()))) {
        out.clear();
    }
    return out;
}

TEST(Registered, ConvertsTo32bppBGRA) {
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateDecoderFromFilename(
        Wide(RandomFile()).c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
        &decoder));
    ASSERT_HRESULT_SUCCEEDED(decoder->GetFrame(0, &frame));
    const Bytes out = Bgra(frame.get(), 37, 23);
    ASSERT_FALSE(out.empty());
    const Bytes rgb = Rgb48(RandomPicture());
    for (std::size_t p = 0; p < 37 * 23; ++p) {
        for (int c = 0; c < 3; ++c) {
            const int sample = rgb[6 * p + 2 * c] | rgb[6 * p + 2 * c + 1] << 8;
            ASSERT_NEAR(out[4 * p + 2 - c], sample / 257.0, 1.0) << "pixel " << p;
        }
        ASSERT_EQ(out[4 * p + 3], 255) << "pixel " << p;
    }
}

// How far a 256 x 192 32bppBGRA thumbnail of the sample picture lies from
// the means of the 12.5-pixel squares it stands for, in 8-bit levels.
double DistanceFromAreaMeans(const Bytes& bgra) {
    constexpr UINT kTw = 256, kTh = 192;
    std::vector<double> sum(3 * kTw * kTh, 0.0);
    std::vector<int> count(kTw * kTh, 0);
    std::vector<std::uint16_t> bgr(3 * kW);
    for (std::uint32_t top = 0; top < kH; ++top) {
        rq6::SampleRow(10, kW, kH, kH - 1 - top, bgr.data());
        for (std::uint32_t x = 0; x < kW; ++x) {
            const std::size_t p = (top * kTh / kH) * kTw + x * kTw / kW;
            ++count[p];
            for (int c = 0; c < 3; ++c) sum[3 * p + c] += bgr[3 * x + c] / 257.0;
        }
    }
    double distance = 0;
    for (std::size_t p = 0; p < kTw * kTh; ++p) {
        for (int c = 0; c < 3; ++c) distance += std::abs(bgra[4 * p + c] - sum[3 * p + c] / count[p]);
    }
    return distance / (3 * kTw * kTh);
}

// Thumbnails as hosts make them: with WIC's scaler, which reads the whole
// picture, and as the decoder's own scaled copy, which a host that asks the
// frame for one (IWICBitmapSourceTransform) gets without it. The second is
// timed: the speed figure the README gives.
TEST(Registered, MakesA256PixelThumbnailWithTheScalerAndAsAScaledCopy) {
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    Ref<IWICBitmapScaler> scaler;
    const std::wstring path = Wide(SamplePicture());
    ASSERT_HRESULT_SUCCEEDED(factory->CreateDecoderFromFilename(
        path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder));
    ASSERT_HRESULT_SUCCEEDED(decoder->GetFrame(0, &frame));
    ASSERT_HRESULT_SUCCEEDED(factory->CreateBitmapScaler(&scaler));
    ASSERT_HRESULT_SUCCEEDED(scaler->Initialize(frame.get(), 256, 192,
                                                WICBitmapInterpolationModeFant));
    const Bytes scaled = Bgra(scaler.get(), 256, 192);
    ASSERT_FALSE(scaled.empty());
    // Within the grass's grain of a few levels however the scaler samples;
    // a picture upside down or shifted is dozens of levels off.
    EXPECT_LT(DistanceFromAreaMeans(scaled), 8.0);

    const auto start = std::chrono::steady_clock::now();
    Ref<IWICBitmapDecoder> again;
    Ref<IWICBitmapFrameDecode> second;
    Ref<wic::IWICBitmapSourceTransform> transform;
    Ref<IWICBitmap> small;
    Bytes rgb(6 * 256 * 192);
    WICPixelFormatGUID format = GUID_WICPixelFormat48bppRGB;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateDecoderFromFilename(
        path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &again));
    ASSERT_HRESULT_SUCCEEDED(again->GetFrame(0, &second));
    ASSERT_HRESULT_SUCCEEDED(
        second->QueryInterface(wic::kIidSourceTransform, reinterpret_cast<void**>(&transform)));
    ASSERT_HRESULT_SUCCEEDED(transform->CopyPixels(nullptr, 256, 192, &format,
                                                   WICBitmapTransformRotate0, 6 * 256,
                                                   static_cast<UINT>(rgb.size()), rgb.data()));
    ASSERT_HRESULT_SUCCEEDED(factory->CreateBitmapFromMemory(
        256, 192, format, 6 * 256, static_cast<UINT>(rgb.size()), rgb.data(), &small));
    const Bytes thumbnail = Bgra(small.get(), 256, 192);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("256 x 192 32bppBGRA thumbnail of the 3200 x 2400 sample picture: %.0f ms\n", ms);
    ASSERT_FALSE(thumbnail.empty());
    EXPECT_LT(DistanceFromAreaMeans(thumbnail), 2.0);  // area averaging itself
}

// ---------------------------------------------------------------------------
// Damaged files.

// What opening a damaged RQ6 file gives: a failure in the headers
// (Initialize) or in the rows (the first CopyPixels). A file without the
// RQ6 signature is not this decoder's: it fails however the host likes.
void ExpectRefused(const Decoded& d, const Bytes& file, std::uint32_t status, bool inHeaders) {
    if (file.size() < 4 || std::memcmp(file.data(), "RQ61", 4) != 0) {
        EXPECT_TRUE(FAILED(d.hr));
    } else if (status == kStatusOk) {
        EXPECT_HRESULT_SUCCEEDED(d.hr);
    } else {
        EXPECT_EQ(d.hr, inHeaders ? WINCODEC_ERR_BADHEADER : WINCODEC_ERR_BADIMAGE);
    }
}

TEST(Registered, EveryDamagedFileIsRefusedAndTheClientCarriesOn) {
    for (const test::BadFile& bad : test::BadFiles()) {
        const Bytes file = bad.make();
        const std::string name = std::string(bad.name) + ".rq6";
        test::WriteRaw(name, file);
        SCOPED_TRACE(bad.name);
        ExpectRefused(FromFile(name), file, bad.status, bad.failsInBegin);
    }
    const test::StreamLayout& layout = test::CutLayout();
    for (std::size_t keep = 0; keep < layout.file.size(); ++keep) {
        const Bytes cut(layout.file.begin(), layout.file.begin() + keep);
        const bool inRows = test::Classify(layout, keep).region == test::Region::kRows;
        SCOPED_TRACE("cut at byte " + std::to_string(keep));
        ExpectRefused(FromMemory(cut), cut, kStatusReadFailed, !inRows);
    }
    EXPECT_HRESULT_SUCCEEDED(FromFile(RandomFile()).hr);
}

// A stream over memory whose reads fail from byte `failAt` on, as a
// scratched disc or a lost network share would.
class FailingStream final : public IStream {
public:
    FailingStream(const Bytes& bytes, ULONGLONG failFrom)
        : inner(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()))), failAt(failFrom) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_ISequentialStream) &&
            !IsEqualIID(iid, IID_IStream)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            inner->Release();
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* got) override {
        ULARGE_INTEGER at = {};
        inner->Seek({}, STREAM_SEEK_CUR, &at);
        if (at.QuadPart >= failAt) return STG_E_READFAULT;
        return inner->Read(buffer, static_cast<ULONG>(std::min<ULONGLONG>(size, failAt - at.QuadPart)),
                           got);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* to) override {
        return inner->Seek(move, origin, to);
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override {
        return inner->Stat(stat, flags);
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~FailingStream() = default;
    IStream* inner;
    ULONGLONG failAt;
    LONG refs = 1;
};

TEST(Registered, AStreamThatFailsIsAStreamReadError) {
    const Bytes file = test::ReadBytes(RandomFile());
    // In the code tree (Initialize fails) and in the rows (CopyPixels fails).
    for (ULONGLONG failAt : {ULONGLONG{40}, ULONGLONG{file.size() - 20}}) {
        auto* stream = new FailingStream(file, failAt);
        EXPECT_EQ(FromStream(stream).hr, WINCODEC_ERR_STREAMREAD) << "failing at " << failAt;
        stream->Release();
    }
}

// ---------------------------------------------------------------------------
// Registration.

// Every key and value below `path`, as text; the same whether `path`
// itself is missing or empty.
std::wstring Listing(HKEY root, const std::wstring& path, bool top = true) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
    std::wstring out = top ? L"" : path + L"\n";
    wchar_t name[256];
    BYTE data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD n = 256, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &n, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out += L"  " + std::wstring(name) + L" " + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b) out += std::to_wstring(data[b]) + L",";
        out += L"\n";
    }
    for (DWORD i = 0;; ++i) {
        DWORD n = 256;
        if (RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        out += Listing(root, path + L"\\" + name, false);
    }
    RegCloseKey(key);
    return out;
}

DWORD RunProgram(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return GetLastError();
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

const std::wstring kDll = Wide(TAVREL_WIC_DLL);
const std::wstring kClasses = L"Software\\Classes\\";

TEST(PerUser, RegistersUnderTheUsersClassesAndRemovesExactlyThat) {
    const std::wstring before = Listing(HKEY_CURRENT_USER, kClasses);
    const std::wstring machine = Listing(HKEY_LOCAL_MACHINE, kClasses + L"CLSID\\" + kClsid);
    ASSERT_EQ(RunProgram(L"regsvr32.exe /s /n /i:user \"" + kDll + L"\""), 0u);
    const std::wstring decoder = kClasses + L"CLSID\\" + kClsid;
    EXPECT_NE(RegistryText(HKEY_CURRENT_USER, decoder + L"\\InprocServer32", nullptr)
                  .find(L"tavrel_wic.dll"), std::wstring::npos);
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, decoder + L"\\InprocServer32", L"ThreadingModel"),
              L"Both");
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, decoder, L"FileExtensions"), L".rq6");
    BYTE pattern[8] = {};
    DWORD size = sizeof pattern;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, (decoder + L"\\Patterns\\0").c_str(), L"Pattern",
                           RRF_RT_REG_BINARY, nullptr, pattern, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pattern), size), "RQ61");
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER,
                           kClasses + L"CLSID\\" + GuidText(CATID_WICBitmapDecoders) +
                               L"\\Instance\\" + kClsid, L"CLSID"), kClsid);
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kClasses + L".rq6", L"PerceivedType"), L"image");
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kClasses + kThumbnailKey, nullptr),
              L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}");
    EXPECT_EQ(Listing(HKEY_LOCAL_MACHINE, kClasses + L"CLSID\\" + kClsid), machine);

    ASSERT_EQ(RunProgram(L"regsvr32.exe /s /u /n /i:user \"" + kDll + L"\""), 0u);
    EXPECT_EQ(Listing(HKEY_CURRENT_USER, kClasses), before);
}

TEST(Unregistered, TheDecoderIsGoneWithEveryEntry) {
    EXPECT_FALSE(DecoderListed());
    EXPECT_EQ(FromFile(RandomFile()).hr, WINCODEC_ERR_COMPONENTNOTFOUND);
    for (const std::wstring& key :
         {L"CLSID\\" + kClsid, L"CLSID\\" + GuidText(CATID_WICBitmapDecoders) + L"\\Instance\\" + kClsid,
          std::wstring(L".rq6"), std::wstring(L"SystemFileAssociations\\.rq6")}) {
        HKEY left = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kClasses + key).c_str(), 0, KEY_READ, &left),
                  ERROR_SUCCESS) << "left behind: " << std::string(key.begin(), key.end());
    }
}

}  // namespace
