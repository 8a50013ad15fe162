// The RQ6 decoder as WIC sees it: one picture, one frame. Initialize reads
// the headers; the rows are decoded once, when a frame first needs pixels,
// and kept for every later request.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <memory>

#include "formats/rgb48_picture.h"
#include "plugins/wic/com_object.h"
#include "plugins/wic/frame_source.h"
#include "plugins/wic/stream_source.h"

namespace wic {

class Rq6Decoder final : public IWICBitmapDecoder, public FrameSource {
public:
    // A new decoder, returned as `iid`.
    static HRESULT Create(REFIID iid, void** out);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    // IWICBitmapDecoder
    HRESULT STDMETHODCALLTYPE QueryCapability(IStream* stream, DWORD* capability) override;
    HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, WICDecodeOptions options) override;
    HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo** info) override;
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override;
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override;
    HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource** preview) override;
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT count, IWICColorContext** contexts,
                                               UINT* actual) override;
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override;
    HRESULT STDMETHODCALLTYPE GetFrameCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode** frame) override;

    // FrameSource, for the frames of an initialised decoder.
    const rgb48::Picture& Picture() const override { return picture; }
    HRESULT DecodeRows() override;
    HRESULT CopyScaled(UINT width, UINT height, const rgb48::Rect& rect, UINT stride,
                       BYTE* out) override;

private:
    Rq6Decoder();
    ~Rq6Decoder();

    RefCount refs;
    // Initialize and the decoding of the rows change the state; a frame
    // reads the picture only once DecodeRows has returned.
    SRWLOCK lock = SRWLOCK_INIT;
    bool initialized = false;
    // Held from Initialize on: scaled copies read it again.
    IStream* stream = nullptr;
    std::unique_ptr<StreamSource> source;
    rgb48::Picture picture;
};

}  // namespace wic
