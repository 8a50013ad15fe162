// The class object through which COM makes RQ6 decoders.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "plugins/wic/com_object.h"

namespace wic {

class ClassFactory final : public IClassFactory {
public:
    static HRESULT Create(REFIID iid, void** out);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ClassFactory() = default;
    ~ClassFactory() = default;

    RefCount refs;
};

}  // namespace wic
