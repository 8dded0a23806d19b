// IDispatch for a dual interface, served from the registered type library:
// names, type information and calls come from the library's description of
// the interface, loaded on first use. Until the library is registered the
// object works through its own slots, but calls by name fail.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace Tellvane {

template <class Interface, const IID* iid, const GUID* libid, WORD major = 1, WORD minor = 0>
class DispatchImpl : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo == nullptr) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    const HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    typeInfo_->AddRef();
    *ppTInfo = typeInfo_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                          DISPID* rgDispId) override {
    if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    return typeInfo_->GetIDsOfNames(rgszNames, cNames, rgDispId);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    return typeInfo_->Invoke(static_cast<Interface*>(this), dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                             puArgErr);
  }

 protected:
  DispatchImpl() = default;
  ~DispatchImpl() {
    if (typeInfo_ != nullptr) typeInfo_->Release();
  }
  DispatchImpl(const DispatchImpl&) = delete;
  DispatchImpl& operator=(const DispatchImpl&) = delete;

 private:
  HRESULT loadTypeInfo() {
    if (typeInfo_ != nullptr) return S_OK;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadRegTypeLib(*libid, major, minor, 0, &library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(*iid, &typeInfo_);
    library->Release();
    return hr;
  }

  ITypeInfo* typeInfo_ = nullptr;
};

}  // namespace Tellvane
