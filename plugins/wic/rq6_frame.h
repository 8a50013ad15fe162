// The one frame of an RQ6 picture: its size, 48-bit RGB pixels and
// resolution, and scaled copies of it for hosts that ask for them. It keeps
// its decoder, which holds the pixels, alive.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include "plugins/wic/com_object.h"
#include "plugins/wic/frame_source.h"
#include "plugins/wic/source_transform.h"

namespace wic {

class Rq6Frame final : public IWICBitmapFrameDecode, public IWICBitmapSourceTransform {
public:
    // A frame of `source`, which `owner`, the decoder, keeps alive.
    Rq6Frame(FrameSource* source, IUnknown* owner);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    // IWICBitmapSource
    HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override;
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override;
    HRESULT STDMETHODCALLTYPE GetResolution(double* dpiX, double* dpiY) override;
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override;
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize,
                                         BYTE* buffer) override;

    // IWICBitmapFrameDecode
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override;
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT count, IWICColorContext** contexts,
                                               UINT* actual) override;
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override;

    // IWICBitmapSourceTransform: any size, by area averaging; 48-bit RGB;
    // no rotation or flip.
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height,
                                         WICPixelFormatGUID* format,
                                         WICBitmapTransformOptions transform, UINT stride,
                                         UINT bufferSize, BYTE* buffer) override;
    HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) override;
    HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) override;
    HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform,
                                                   BOOL* supported) override;

private:
    ~Rq6Frame();

    RefCount refs;
    FrameSource* decoder;
    IUnknown* owner;
};

}  // namespace wic
