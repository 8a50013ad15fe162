// Times what a thumbnail of an RQ6 picture costs a program built on WIC,
// with the decoder registered (scripts/bench-wic.sh):
//   wic_bench PICTURE.rq6 [RUNS]
// For each run: the whole picture at full precision (open, CopyPixels of
// every 48-bit pixel); a 256-pixel 32bppBGRA thumbnail through WIC's scaler
// (open, IWICBitmapScaler, WICConvertBitmapSource, CopyPixels); and the same
// thumbnail as a host that asks the frame for a scaled copy gets it (open,
// IWICBitmapSourceTransform, WICConvertBitmapSource). Prints the median
// milliseconds of each.
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "plugins/wic/source_transform.h"

namespace {

IWICImagingFactory* factory = nullptr;

template <class T>
void Drop(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// Opens the picture and hands its frame to `use`; false on any failure.
template <class Use>
bool WithFrame(const std::wstring& path, Use use) {
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    bool ok = SUCCEEDED(factory->CreateDecoderFromFilename(
                  path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder)) &&
              SUCCEEDED(decoder->GetFrame(0, &frame)) && use(frame);
    Drop(frame);
    Drop(decoder);
    return ok;
}

bool WholePicture(IWICBitmapFrameDecode* frame) {
    UINT w = 0, h = 0;
    frame->GetSize(&w, &h);
    std::vector<BYTE> pixels(std::size_t{6} * w * h);
    return SUCCEEDED(frame->CopyPixels(nullptr, 6 * w, static_cast<UINT>(pixels.size()),
                                       pixels.data()));
}

// The longer side becomes 256, as `tavrel thumbnail` makes it.
void ThumbnailSize(IWICBitmapFrameDecode* frame, UINT* tw, UINT* th) {
    UINT w = 0, h = 0;
    frame->GetSize(&w, &h);
    *tw = w >= h ? 256 : std::max(1u, 256 * w / h);
    *th = w >= h ? std::max(1u, 256 * h / w) : 256;
}

bool ToBgra(IWICBitmapSource* source, UINT tw, UINT th) {
    IWICBitmapSource* bgra = nullptr;
    std::vector<BYTE> pixels(std::size_t{4} * tw * th);
    const bool ok =
        SUCCEEDED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, source, &bgra)) &&
        SUCCEEDED(bgra->CopyPixels(nullptr, 4 * tw, static_cast<UINT>(pixels.size()),
                                   pixels.data()));
    Drop(bgra);
    return ok;
}

bool Thumbnail(IWICBitmapFrameDecode* frame) {
    UINT tw = 0, th = 0;
    ThumbnailSize(frame, &tw, &th);
    IWICBitmapScaler* scaler = nullptr;
    const bool ok = SUCCEEDED(factory->CreateBitmapScaler(&scaler)) &&
                    SUCCEEDED(scaler->Initialize(frame, tw, th, WICBitmapInterpolationModeFant)) &&
                    ToBgra(scaler, tw, th);
    Drop(scaler);
    return ok;
}

bool ScaledCopy(IWICBitmapFrameDecode* frame) {
    UINT tw = 0, th = 0;
    ThumbnailSize(frame, &tw, &th);
    wic::IWICBitmapSourceTransform* transform = nullptr;
    IWICBitmap* small = nullptr;
    std::vector<BYTE> pixels(std::size_t{6} * tw * th);
    WICPixelFormatGUID format = GUID_WICPixelFormat48bppRGB;
    const bool ok =
        SUCCEEDED(frame->QueryInterface(wic::kIidSourceTransform,
                                        reinterpret_cast<void**>(&transform))) &&
        SUCCEEDED(transform->CopyPixels(nullptr, tw, th, &format, WICBitmapTransformRotate0,
                                        6 * tw, static_cast<UINT>(pixels.size()),
                                        pixels.data())) &&
        SUCCEEDED(factory->CreateBitmapFromMemory(tw, th, format, 6 * tw,
                                                  static_cast<UINT>(pixels.size()), pixels.data(),
                                                  &small)) &&
        ToBgra(small, tw, th);
    Drop(small);
    Drop(transform);
    return ok;
}

template <class Use>
double Milliseconds(const std::wstring& path, Use use) {
    const auto start = std::chrono::steady_clock::now();
    if (!WithFrame(path, use)) return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wic_bench PICTURE.rq6 [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory)))) {
        std::fprintf(stderr, "wic_bench: no WIC factory\n");
        return 1;
    }
    std::vector<double> whole, thumbnail, scaled;
    for (int i = 0; i < runs; ++i) {
        whole.push_back(Milliseconds(argv[1], WholePicture));
        thumbnail.push_back(Milliseconds(argv[1], Thumbnail));
        scaled.push_back(Milliseconds(argv[1], ScaledCopy));
        if (whole.back() < 0 || thumbnail.back() < 0 || scaled.back() < 0) {
            std::fprintf(stderr, "wic_bench: the picture could not be decoded through WIC\n");
            return 1;
        }
    }
    std::printf("whole picture, 48bppRGB: %.0f ms\n", Median(whole));
    std::printf("thumbnail through IWICBitmapScaler: %.0f ms\n", Median(thumbnail));
    std::printf("thumbnail as a scaled copy (IWICBitmapSourceTransform): %.0f ms\n",
                Median(scaled));
    Drop(factory);
    CoUninitialize();
    return 0;
}
