#include "plugins/wic/rq6_frame.h"

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

HRESULT Rq6Frame::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
    return Guarded([&]() -> HRESULT {
        if (!buffer) return E_INVALIDARG;
        const HRESULT hr = decoder->DecodeRows();
        if (FAILED(hr)) return hr;
        const rgb48::Picture& picture = decoder->Picture();
        rgb48::Rect part;
        if (rect) {
            part = {rect->X, rect->Y, rect->Width, rect->Height};
        } else {
            part = {0, 0, static_cast<INT>(picture.Width()), static_cast<INT>(picture.Height())};
        }
        switch (rgb48::CheckCopy(picture.Width(), picture.Height(), part, stride, bufferSize)) {
            case rgb48::CopyCheck::kOk:
                picture.Copy(part, stride, buffer);
                return S_OK;
            case rgb48::CopyCheck::kBufferTooSmall:
                return WINCODEC_ERR_INSUFFICIENTBUFFER;
            case rgb48::CopyCheck::kOutsidePicture:
            case rgb48::CopyCheck::kStrideTooSmall:
                break;
        }
        return E_INVALIDARG;
    });
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
