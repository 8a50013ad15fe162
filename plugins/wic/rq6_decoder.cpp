#include "plugins/wic/rq6_decoder.h"

#include "engine/picture_reader.h"
#include "plugins/wic/codec_ids.h"
#include "plugins/wic/rq6_frame.h"
#include "plugins/wic/status_hresult.h"

namespace wic {

namespace {

// An exclusive hold on a slim reader/writer lock for one scope.
class Exclusive {
public:
    explicit Exclusive(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~Exclusive() { ReleaseSRWLockExclusive(lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK* lock_;
};

}  // namespace

Rq6Decoder::Rq6Decoder() = default;

Rq6Decoder::~Rq6Decoder() {
    if (stream) stream->Release();
}

HRESULT Rq6Decoder::Create(REFIID iid, void** out) {
    return Guarded([&] {
        auto* decoder = new (std::nothrow) Rq6Decoder;
        if (!decoder) return E_OUTOFMEMORY;
        const HRESULT hr = decoder->QueryInterface(iid, out);
        decoder->Release();
        return hr;
    });
}

HRESULT Rq6Decoder::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWICBitmapDecoder)) {
        *out = static_cast<IWICBitmapDecoder*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG Rq6Decoder::Release() {
    const ULONG left = refs.Drop();
    if (left == 0) delete this;
    return left;
}

HRESULT Rq6Decoder::QueryCapability(IStream* in, DWORD* capability) {
    return Guarded([&]() -> HRESULT {
        if (!in || !capability) return E_INVALIDARG;
        *capability = 0;
        std::uint64_t start = 0;
        HRESULT hr = Tell(in, &start);
        if (SUCCEEDED(hr)) hr = SeekTo(in, 0);
        if (FAILED(hr)) return hr;
        StreamSource probe(in);
        PictureReader reader;
        const std::uint32_t status = reader.Open(probe);
        // The caller finds its stream where it left it.
        hr = SeekTo(in, start);
        if (FAILED(hr)) return hr;
        if (probe.systemError != 0) return WINCODEC_ERR_STREAMREAD;
        if (status == kStatusOk) *capability = WICBitmapDecoderCapabilityCanDecodeAllImages;
        return S_OK;
    });
}

HRESULT Rq6Decoder::Initialize(IStream* in, WICDecodeOptions) {
    return Guarded([&]() -> HRESULT {
        if (!in) return E_INVALIDARG;
        Exclusive hold(&lock);
        // Once only, whether the first call succeeded or not.
        if (source) return WINCODEC_ERR_WRONGSTATE;
        // The picture starts the stream, wherever the caller left it (a
        // factory that matched the signature leaves it just after).
        const HRESULT hr = SeekTo(in, 0);
        if (FAILED(hr)) return hr;
        source = std::make_unique<StreamSource>(in);
        const std::uint32_t status = picture.Open(*source);
        if (status != kStatusOk) {
            return HResultFromStatus(status, Stage::kHeaders, source->systemError);
        }
        in->AddRef();
        stream = in;
        initialized = true;
        return S_OK;
    });
}

HRESULT Rq6Decoder::DecodeRows() {
    Exclusive hold(&lock);
    if (!initialized) return WINCODEC_ERR_NOTINITIALIZED;
    const std::uint32_t status = picture.Decode();
    return HResultFromStatus(status, Stage::kRows, source->systemError);
}

HRESULT Rq6Decoder::CopyScaled(UINT width, UINT height, const rgb48::Rect& rect, UINT stride,
                               BYTE* out) {
    Exclusive hold(&lock);
    if (!initialized) return WINCODEC_ERR_NOTINITIALIZED;
    // Another pass over the stream from its start; the picture's own reader
    // finds it where it left it.
    std::uint64_t resume = 0;
    HRESULT hr = Tell(stream, &resume);
    if (SUCCEEDED(hr)) hr = SeekTo(stream, 0);
    if (FAILED(hr)) return hr;
    StreamSource again(stream);
    const std::uint32_t status = rgb48::CopyScaled(again, width, height, rect, stride, out);
    hr = SeekTo(stream, resume);
    if (status != kStatusOk) return HResultFromStatus(status, Stage::kRows, again.systemError);
    return hr;
}

HRESULT Rq6Decoder::GetContainerFormat(GUID* format) {
    if (!format) return E_INVALIDARG;
    *format = kContainerFormat;
    return S_OK;
}

HRESULT Rq6Decoder::GetDecoderInfo(IWICBitmapDecoderInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    return Guarded([&] {
        // The registered information, as WIC's factory reads it.
        IWICImagingFactory* factory = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
        if (FAILED(hr)) return hr;
        IWICComponentInfo* component = nullptr;
        hr = factory->CreateComponentInfo(kDecoderClsid, &component);
        factory->Release();
        if (FAILED(hr)) return hr;
        hr = component->QueryInterface(IID_IWICBitmapDecoderInfo, reinterpret_cast<void**>(info));
        component->Release();
        return hr;
    });
}

HRESULT Rq6Decoder::CopyPalette(IWICPalette*) { return WINCODEC_ERR_PALETTEUNAVAILABLE; }

HRESULT Rq6Decoder::GetMetadataQueryReader(IWICMetadataQueryReader** reader) {
    if (reader) *reader = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}

HRESULT Rq6Decoder::GetPreview(IWICBitmapSource** preview) {
    if (preview) *preview = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}

HRESULT Rq6Decoder::GetColorContexts(UINT, IWICColorContext**, UINT* actual) {
    if (!actual) return E_INVALIDARG;
    *actual = 0;
    return S_OK;
}

HRESULT Rq6Decoder::GetThumbnail(IWICBitmapSource** thumbnail) {
    if (thumbnail) *thumbnail = nullptr;
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
}

HRESULT Rq6Decoder::GetFrameCount(UINT* count) {
    if (!count) return E_INVALIDARG;
    Exclusive hold(&lock);
    if (!initialized) return WINCODEC_ERR_NOTINITIALIZED;
    *count = 1;
    return S_OK;
}

HRESULT Rq6Decoder::GetFrame(UINT index, IWICBitmapFrameDecode** frame) {
    if (!frame) return E_INVALIDARG;
    *frame = nullptr;
    {
        Exclusive hold(&lock);
        if (!initialized) return WINCODEC_ERR_NOTINITIALIZED;
    }
    if (index != 0) return WINCODEC_ERR_FRAMEMISSING;
    return Guarded([&] {
        auto* made = new (std::nothrow) Rq6Frame(this, static_cast<IWICBitmapDecoder*>(this));
        if (!made) return E_OUTOFMEMORY;
        *frame = made;
        return S_OK;
    });
}

}  // namespace wic
