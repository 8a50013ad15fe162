// The RQ6 decoder as Windows programs meet it: through WIC's factory, in a
// throwaway Wine prefix where regsvr32 registered tavrel_wic.dll for all
// users (scripts/wic-prefix.sh). Pictures written here by the project's
// writer must come back sample for sample; the full-size sample picture is
// compared with the native tool's 16-bit extract, where the build beside
// this one made it. The Unregistered case runs after regsvr32 /u.
#include <windows.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "plugins/wic/codec_ids.h"
#include "plugins/wic/source_transform.h"
#include "samples/sample_disc.h"
#include "tests/engine/damaged_files.h"
#include "tests/engine/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// An interface pointer, released when it goes.
template <class T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    ~Ref() { if (p) p->Release(); }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    T* get() const { return p; }
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

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

const std::wstring kClsid = GuidText(wic::kDecoderClsid);
const std::wstring kClasses = L"Software\\Classes\\";
const std::wstring kThumbnailKey =
    L"SystemFileAssociations\\.rq6\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const std::wstring kWicThumbnailProvider = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";

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

struct Decoded {
    HRESULT hr = E_FAIL;  // of the first step that failed
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = {};
    Bytes pixels;
};

Decoded ReadFrame(HRESULT opened, IWICBitmapDecoder* decoder) {
    Decoded d;
    Ref<IWICBitmapFrameDecode> frame;
    if (FAILED(d.hr = opened) || FAILED(d.hr = decoder->GetFrame(0, &frame))) return d;
    frame->GetSize(&d.width, &d.height);
    frame->GetPixelFormat(&d.format);
    d.pixels.assign(std::size_t{6} * d.width * d.height, 0);
    d.hr = frame->CopyPixels(nullptr, 6 * d.width, static_cast<UINT>(d.pixels.size()),
                             d.pixels.data());
    return d;
}

Decoded FromFile(const std::string& path) {
    Ref<IWICBitmapDecoder> decoder;
    const HRESULT hr = factory->CreateDecoderFromFilename(
        Wide(path).c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    return ReadFrame(hr, decoder.get());
}

Decoded FromMemory(const Bytes& bytes) {
    Ref<IStream> stream;
    Ref<IWICBitmapDecoder> decoder;
    *&stream = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    const HRESULT hr = factory->CreateDecoderFromStream(stream.get(), nullptr,
                                                        WICDecodeMetadataCacheOnDemand, &decoder);
    return ReadFrame(hr, decoder.get());
}

void OpenFrame(const std::string& path, IWICBitmapDecoder** decoder,
               IWICBitmapFrameDecode** frame) {
    ASSERT_HRESULT_SUCCEEDED(factory->CreateDecoderFromFilename(
        Wide(path).c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, decoder));
    ASSERT_HRESULT_SUCCEEDED((*decoder)->GetFrame(0, frame));
}

std::wstring RegistryText(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t text[512] = {};
    DWORD size = sizeof text;
    const LONG e = RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size);
    return e == ERROR_SUCCESS ? text : L"(none)";
}

bool DecoderListed() {
    Ref<IEnumUnknown> all;
    factory->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, &all);
    IUnknown* item = nullptr;
    ULONG n = 0;
    bool found = false;
    while (all.get() && all->Next(1, &item, &n) == S_OK) {
        Ref<IWICBitmapCodecInfo> info;
        CLSID clsid = {};
        item->QueryInterface(IID_PPV_ARGS(&info));
        item->Release();
        found |= info.get() && SUCCEEDED(info->GetCLSID(&clsid)) &&
                 IsEqualCLSID(clsid, wic::kDecoderClsid);
    }
    return found;
}

// ---------------------------------------------------------------------------

TEST(Registered, TheFactoryListsTheDecoderWithItsRegistration) {
    ASSERT_TRUE(DecoderListed());
    Ref<IWICComponentInfo> component;
    Ref<IWICBitmapDecoderInfo> info;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateComponentInfo(wic::kDecoderClsid, &component));
    ASSERT_HRESULT_SUCCEEDED(component->QueryInterface(IID_PPV_ARGS(&info)));
    wchar_t text[256];
    UINT n = 0;
    GUID formats[4] = {};
    info->GetFileExtensions(256, text, &n);
    EXPECT_STREQ(text, L".rq6");
    info->GetMimeTypes(256, text, &n);
    EXPECT_STREQ(text, L"image/x-rq6");
    ASSERT_HRESULT_SUCCEEDED(info->GetPixelFormats(4, formats, &n));
    ASSERT_EQ(n, 1u);
    EXPECT_TRUE(IsEqualGUID(formats[0], GUID_WICPixelFormat48bppRGB));
    // What Explorer reads.
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L".rq6", L"PerceivedType"), L"image");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, kThumbnailKey, nullptr), kWicThumbnailProvider);
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
    Ref<IWICBitmapFrameDecode> frame;
    OpenFrame(RandomFile(), &decoder, &frame);
    const Bytes whole = Rgb48(RandomPicture());
    struct Case {
        WICRect rect;
        UINT stride;
        int room;  // bytes of buffer beyond what the part needs
        HRESULT expected;
    } const cases[] = {
        {{0, 0, 37, 23}, 222, 0, S_OK},
        {{5, 7, 10, 3}, 67, 9, S_OK},  // an odd stride: rows need no alignment
        {{36, 22, 1, 1}, 6, 0, S_OK},
        {{0, 0, 37, 23}, 222, -1, WINCODEC_ERR_INSUFFICIENTBUFFER},
        {{0, 0, 37, 23}, 221, 100, E_INVALIDARG},
        {{-1, 0, 2, 2}, 12, 0, E_INVALIDARG},
        {{0, 20, 1, 4}, 6, 0, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        const WICRect& r = c.rect;
        const std::size_t need = (r.Height - 1) * std::size_t{c.stride} + 6 * r.Width;
        Bytes buffer(need + c.room + 16, 0xA5), want(need + c.room + 16, 0xA5);
        EXPECT_EQ(frame->CopyPixels(&r, c.stride, static_cast<UINT>(need + c.room), buffer.data()),
                  c.expected) << r.X << "," << r.Y << " " << r.Width << "x" << r.Height;
        for (int y = 0; c.expected == S_OK && y < r.Height; ++y) {
            std::memcpy(want.data() + y * std::size_t{c.stride},
                        whole.data() + ((r.Y + y) * 37 + r.X) * 6, 6 * r.Width);
        }
        EXPECT_EQ(buffer, want) << "part " << r.X << "," << r.Y;  // nothing outside it touched
    }
}

// What Wine's factory never does, which Windows does: ask the decoder
// itself whether it can read a stream, and initialise it once.
TEST(Registered, TheDecoderObjectItself) {
    Ref<IWICBitmapDecoder> decoder;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(wic::kDecoderClsid, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_PPV_ARGS(&decoder)));
    const Bytes file = test::ReadBytes(RandomFile());
    Ref<IStream> stream;
    *&stream = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    LARGE_INTEGER seven = {{7, 0}};
    ULARGE_INTEGER at = {};
    stream->Seek(seven, STREAM_SEEK_SET, nullptr);
    DWORD capability = 0;
    ASSERT_HRESULT_SUCCEEDED(decoder->QueryCapability(stream.get(), &capability));
    EXPECT_EQ(capability, static_cast<DWORD>(WICBitmapDecoderCapabilityCanDecodeAllImages));
    stream->Seek({}, STREAM_SEEK_CUR, &at);
    EXPECT_EQ(at.QuadPart, 7u);  // where it was
    // Initialize reads from the start, wherever the stream stands.
    ASSERT_HRESULT_SUCCEEDED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnLoad));
    EXPECT_EQ(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnLoad),
              WINCODEC_ERR_WRONGSTATE);
    Ref<IWICBitmapFrameDecode> frame;
    EXPECT_EQ(decoder->GetFrame(1, &frame), WINCODEC_ERR_FRAMEMISSING);
    EXPECT_EQ(ReadFrame(S_OK, decoder.get()).pixels, Rgb48(RandomPicture()));
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

TEST(Registered, TheFullSizeSamplePictureEqualsTheToolsExtract) {
    const Decoded d = FromFile(SamplePicture());
    ASSERT_HRESULT_SUCCEEDED(d.hr);
    ASSERT_EQ(d.width * d.height, kW * kH);
    std::ifstream ppm("Sg010.ppm", std::ios::binary);
    if (!ppm) GTEST_SKIP() << "no Sg010.ppm: no native tavrel beside this build to compare with";
    std::string magic, size, maxval;
    std::getline(ppm, magic);
    std::getline(ppm, size);
    std::getline(ppm, maxval);
    ASSERT_EQ(magic + " " + size + " " + maxval, "P6 3200 2400 65535");
    Bytes extract(d.pixels.size());
    ASSERT_TRUE(ppm.read(reinterpret_cast<char*>(extract.data()), extract.size()));
    std::size_t differing = 0;
    for (std::size_t i = 0; i < extract.size(); i += 2) {  // PPM samples are big-endian
        differing += d.pixels[i] != extract[i + 1] || d.pixels[i + 1] != extract[i];
    }
    EXPECT_EQ(differing, 0u);
}

// The means, in 8-bit levels, of the 12.5-pixel squares of the sample
// picture that the pixels of a 256 x 192 thumbnail stand for: blue, green,
// red and the count of pixels for each.
std::vector<double> AreaMeans() {
    std::vector<double> sum(4 * 256 * 192, 0.0);
    std::vector<std::uint16_t> bgr(3 * kW);
    for (std::uint32_t top = 0; top < kH; ++top) {
        rq6::SampleRow(10, kW, kH, kH - 1 - top, bgr.data());
        for (std::uint32_t x = 0; x < kW; ++x) {
            double* p = &sum[4 * ((top * 192 / kH) * 256 + x * 256 / kW)];
            for (int c = 0; c < 3; ++c) p[c] += bgr[3 * x + c] / 257.0;
            p[3] += 1;
        }
    }
    return sum;
}

// Thumbnails as hosts make them: through WIC's scaler, which reads the
// whole picture, and as the decoder's scaled copy (IWICBitmapSourceTransform),
// which needs no more than a pass over the file; scripts/bench-wic.sh times both.
TEST(Registered, MakesA256PixelThumbnailWithTheScalerAndAsAScaledCopy) {
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    Ref<IWICBitmapScaler> scaler;
    Ref<wic::IWICBitmapSourceTransform> transform;
    Ref<IWICBitmap> small;
    OpenFrame(SamplePicture(), &decoder, &frame);
    ASSERT_HRESULT_SUCCEEDED(factory->CreateBitmapScaler(&scaler));
    ASSERT_HRESULT_SUCCEEDED(
        scaler->Initialize(frame.get(), 256, 192, WICBitmapInterpolationModeFant));
    Bytes rgb(6 * 256 * 192);
    WICPixelFormatGUID format = GUID_WICPixelFormat48bppRGB;
    ASSERT_HRESULT_SUCCEEDED(
        frame->QueryInterface(wic::kIidSourceTransform, reinterpret_cast<void**>(&transform)));
    ASSERT_HRESULT_SUCCEEDED(transform->CopyPixels(nullptr, 256, 192, &format,
                                                   WICBitmapTransformRotate0, 6 * 256,
                                                   static_cast<UINT>(rgb.size()), rgb.data()));
    ASSERT_HRESULT_SUCCEEDED(factory->CreateBitmapFromMemory(
        256, 192, format, 6 * 256, static_cast<UINT>(rgb.size()), rgb.data(), &small));
    const std::vector<double> means = AreaMeans();
    // Within the grass's grain of a few levels however the scaler samples (a
    // picture upside down, mirrored or shifted is dozens of levels off); the
    // scaled copy is the area average itself.
    const std::pair<IWICBitmapSource*, double> thumbnails[] = {{scaler.get(), 8.0},
                                                               {small.get(), 2.0}};
    for (const auto& [source, within] : thumbnails) {
        Ref<IWICBitmapSource> bgra;
        Bytes out(4 * 256 * 192);
        ASSERT_HRESULT_SUCCEEDED(
            WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, source, &bgra));
        ASSERT_HRESULT_SUCCEEDED(
            bgra->CopyPixels(nullptr, 4 * 256, static_cast<UINT>(out.size()), out.data()));
        double distance = 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (i % 4 != 3) distance += std::abs(out[i] - means[i] / means[i | 3]);
        }
        EXPECT_LT(distance / (3 * 256 * 192), within);
    }
}

// ---------------------------------------------------------------------------
// Damaged files.

// A damaged RQ6 file fails in the headers (Initialize) or in the rows (the
// first CopyPixels). A file without the RQ6 signature is not this decoder's
// and fails however the host likes.
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
    for (const test::DamagedFile& bad : test::DamagedFiles()) {
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

// A memory stream whose reads fail from byte `failAt` on, as a scratched
// disc or a lost network share does. It lives on the test's stack.
#define NOT_USED(method, parameters) \
    HRESULT STDMETHODCALLTYPE method parameters override { return E_NOTIMPL; }
struct FailingStream final : IStream {
    FailingStream(const Bytes& bytes, ULONGLONG from)
        : inner(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()))), failAt(from) {}
    ~FailingStream() { inner->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* got) override {
        ULARGE_INTEGER at = {};
        inner->Seek({}, STREAM_SEEK_CUR, &at);
        if (at.QuadPart >= failAt) return STG_E_READFAULT;
        const ULONGLONG part = std::min<ULONGLONG>(size, failAt - at.QuadPart);
        return inner->Read(buffer, static_cast<ULONG>(part), got);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER by, DWORD from, ULARGE_INTEGER* to) override {
        return inner->Seek(by, from, to);
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* s, DWORD f) override { return inner->Stat(s, f); }
    NOT_USED(Write, (const void*, ULONG, ULONG*))
    NOT_USED(SetSize, (ULARGE_INTEGER))
    NOT_USED(CopyTo, (IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*))
    NOT_USED(Commit, (DWORD))
    NOT_USED(Revert, ())
    NOT_USED(LockRegion, (ULARGE_INTEGER, ULARGE_INTEGER, DWORD))
    NOT_USED(UnlockRegion, (ULARGE_INTEGER, ULARGE_INTEGER, DWORD))
    NOT_USED(Clone, (IStream**))
    IStream* inner;
    ULONGLONG failAt;
};

TEST(Registered, AStreamThatFailsIsAStreamReadError) {
    const Bytes file = test::ReadBytes(RandomFile());
    // In the code tree (Initialize fails) and in the rows (CopyPixels fails).
    for (ULONGLONG failAt : {ULONGLONG{40}, ULONGLONG{file.size() - 20}}) {
        FailingStream stream(file, failAt);
        Ref<IWICBitmapDecoder> decoder;
        const HRESULT hr = factory->CreateDecoderFromStream(
            &stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
        EXPECT_EQ(ReadFrame(hr, decoder.get()).hr, WINCODEC_ERR_STREAMREAD) << "at " << failAt;
    }
}

// ---------------------------------------------------------------------------
// Registration.

// Every key and value below `path`, as text; the same whether `path` itself
// is missing or empty.
std::wstring Listing(HKEY root, const std::wstring& path, bool top = true) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
    std::wstring out = top ? L"" : path + L"\n";
    wchar_t name[256];
    BYTE data[1024];
    DWORD n = 256, size = sizeof data, type = 0;
    for (DWORD i = 0; RegEnumValueW(key, i, name, &n, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++i, n = 256, size = sizeof data) {
        out += L"  " + std::wstring(name) + L" " + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b) out += std::to_wstring(data[b]) + L",";
        out += L"\n";
    }
    for (DWORD i = 0; n = 256, RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr,
                                             nullptr) == ERROR_SUCCESS; ++i) {
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

TEST(PerUser, RegistersUnderTheUsersClassesAndRemovesExactlyThat) {
    const std::wstring dll = L" \"" + Wide(TAVREL_WIC_DLL) + L"\"";
    const std::wstring decoder = kClasses + L"CLSID\\" + kClsid;
    const std::wstring before = Listing(HKEY_CURRENT_USER, kClasses);
    const std::wstring machine = Listing(HKEY_LOCAL_MACHINE, decoder);
    ASSERT_EQ(RunProgram(L"regsvr32.exe /s /n /i:user" + dll), 0u);
    EXPECT_NE(RegistryText(HKEY_CURRENT_USER, decoder + L"\\InprocServer32", nullptr)
                  .find(L"tavrel_wic.dll"), std::wstring::npos);
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, decoder + L"\\InprocServer32", L"ThreadingModel"),
              L"Both");
    BYTE pattern[8] = {};
    DWORD size = sizeof pattern;
    RegGetValueW(HKEY_CURRENT_USER, (decoder + L"\\Patterns\\0").c_str(), L"Pattern",
                 RRF_RT_REG_BINARY, nullptr, pattern, &size);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pattern), size), "RQ61");
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kClasses + L"CLSID\\" +
                           GuidText(CATID_WICBitmapDecoders) + L"\\Instance\\" + kClsid, L"CLSID"),
              kClsid);
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kClasses + kThumbnailKey, nullptr),
              kWicThumbnailProvider);
    EXPECT_EQ(Listing(HKEY_LOCAL_MACHINE, decoder), machine);  // the machine's left alone

    ASSERT_EQ(RunProgram(L"regsvr32.exe /s /u /n /i:user" + dll), 0u);
    EXPECT_EQ(Listing(HKEY_CURRENT_USER, kClasses), before);
}

TEST(Unregistered, TheDecoderIsGoneWithEveryEntry) {
    EXPECT_FALSE(DecoderListed());
    EXPECT_EQ(FromFile(RandomFile()).hr, WINCODEC_ERR_COMPONENTNOTFOUND);
    for (const std::wstring& key :
         {L"CLSID\\" + kClsid, L"CLSID\\" + GuidText(CATID_WICBitmapDecoders) + L"\\Instance\\" +
          kClsid, std::wstring(L".rq6"), std::wstring(L"SystemFileAssociations\\.rq6")}) {
        HKEY left = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kClasses + key).c_str(), 0, KEY_READ, &left),
                  ERROR_SUCCESS) << "left behind: " << std::string(key.begin(), key.end());
    }
}

}  // namespace
