#include "plugins/wic/rq6_frame.h"

#include "engine/limits.h"

namespace wic {

Rq6Frame::Rq6Frame(FrameSource* source, IUnknown* decoderObject)
    : decoder(source), owner(decoderObject) {
    owner->AddRef();
}

Rq6Frame::~Rq6Frame() { owner->Release(); }

HRESULT Rq6Frame::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWICBitmapSource) ||
        IsEqualIID(iid, IID_IWICBitmapFrameDecode)) {
        *out = static_cast<IWICBitmapFrameDecode*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(iid, kIidSourceTransform)) {
        *out = static_cast<IWICBitmapSourceTransform*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG Rq6Frame::Release() {
    const ULONG left = refs.Drop();
    if (left == 0) delete this;
    return left;
}

HRESULT Rq6Frame::GetSize(UINT* width, UINT* height) {
    if (!width || !height) return E_INVALIDARG;
    *width = decoder->Picture().Width();
    *height = decoder->Picture().Height();
    return S_OK;
}

HRESULT Rq6Frame::GetPixelFormat(WICPixelFormatGUID* format) {
    if (!format) return E_INVALIDARG;
    *format = GUID_WICPixelFormat48bppRGB;
    return S_OK;
}

HRESULT Rq6Frame::GetResolution(double* dpiX, double* dpiY) {
    if (!dpiX || !dpiY) return E_INVALIDARG;
    *dpiX = decoder->Picture().DpiX();
    *dpiY = decoder->Picture().DpiY();
    return S_OK;
}

HRESULT Rq6Frame::CopyPalette(IWICPalette*) { return WINCODEC_ERR_PALETTEUNAVAILABLE; }

namespace {

// The part a host asks for (all of a width x height picture when it names
// none), or why it cannot have it.
HRESULT CheckPart(const WICRect* rect, UINT width, UINT height, UINT stride, UINT bufferSize,
                  rgb48::Rect* part) {
    if (rect) {
        *part = {rect->X, rect->Y, rect->Width, rect->Height};
    } else {
        *part = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    }
    switch (rgb48::CheckCopy(width, height, *part, stride, bufferSize)) {
        case rgb48::CopyCheck::kOk:
            return S_OK;
        case rgb48::CopyCheck::kBufferTooSmall:
            return WINCODEC_ERR_INSUFFICIENTBUFFER;
        case rgb48::CopyCheck::kOutsidePicture:
        case rgb48::CopyCheck::kStrideTooSmall:
            break;
    }
    return E_INVALIDARG;
}

}  // namespace

HRESULT Rq6Frame::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
    return Guarded([&]() -> HRESULT {
        if (!buffer) return E_INVALIDARG;
        HRESULT hr = decoder->DecodeRows();
        if (FAILED(hr)) return hr;
        const rgb48::Picture& picture = decoder->Picture();
        rgb48::Rect part;
        hr = CheckPart(rect, picture.Width(), picture.Height(), stride, bufferSize, &part);
        if (SUCCEEDED(hr)) picture.Copy(part, stride, buffer);
        return hr;
    });
}

HRESULT Rq6Frame::CopyPixels(const WICRect* rect, UINT width, UINT height,
                             WICPixelFormatGUID* format, WICBitmapTransformOptions transform,
                             UINT stride, UINT bufferSize, BYTE* buffer) {
    return Guarded([&]() -> HRESULT {
        if (!buffer || width < 1 || height < 1 || width > limits::kMaxSide ||
            height > limits::kMaxSide) {
            return E_INVALIDARG;
        }
        if (format && !IsEqualGUID(*format, GUID_WICPixelFormat48bppRGB)) {
            return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
        }
        if (transform != WICBitmapTransformRotate0) return WINCODEC_ERR_UNSUPPORTEDOPERATION;
        const rgb48::Picture& picture = decoder->Picture();
        // At the picture's own size, its own samples, as the frame gives them.
        if (width == picture.Width() && height == picture.Height()) {
            return CopyPixels(rect, stride, bufferSize, buffer);
        }
        rgb48::Rect part;
        const HRESULT hr = CheckPart(rect, width, height, stride, bufferSize, &part);
        if (FAILED(hr)) return hr;
        return decoder->CopyScaled(width, height, part, stride, buffer);
    });
}

HRESULT Rq6Frame::GetClosestSize(UINT* width, UINT* height) {
    if (!width || !height) return E_INVALIDARG;
    // Any size the engine scales to.
    const auto clamp = [](UINT* side) {
        if (*side < 1) *side = 1;
        if (*side > limits::kMaxSide) *side = static_cast<UINT>(limits::kMaxSide);
    };
    clamp(width);
    clamp(height);
    return S_OK;
}

HRESULT Rq6Frame::GetClosestPixelFormat(WICPixelFormatGUID* format) {
    if (!format) return E_INVALIDARG;
    *format = GUID_WICPixelFormat48bppRGB;
    return S_OK;
}

HRESULT Rq6Frame::DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) {
    if (!supported) return E_INVALIDARG;
    *supported = transform == WICBitmapTransformRotate0;
    return S_OK;
}

HRESULT Rq6Frame::GetMetadataQueryReader(IWICMetadataQueryReader** reader) {
    if (reader) *reader = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}

HRESULT Rq6Frame::GetColorContexts(UINT, IWICColorContext**, UINT* actual) {
    if (!actual) return E_INVALIDARG;
    *actual = 0;
    return S_OK;
}

HRESULT Rq6Frame::GetThumbnail(IWICBitmapSource** thumbnail) {
    if (thumbnail) *thumbnail = nullptr;
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
}

}  // namespace wic
