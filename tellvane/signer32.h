// The scripting object: the dual interface ISigner32 whose methods hand their
// arguments to the client operations, its declaration of being safe for
// scripting, and its answer about error information.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <oleauto.h>

#include <cstddef>

#include "tellvane/comobject.h"
#include "tellvane/dispatch.h"
#include "tellvane/interfaces.h"

// Safe for untrusted callers and untrusted data, for every interface, always.
class CSafeObject : public IObjectSafety {
 public:
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                                      DWORD* pdwEnabledOptions) override;
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                      DWORD dwEnabledOptions) override;
};

class CSigner32 : public ISupportErrorInfo,
                  public CSafeObject,
                  public Tellvane::DispatchImpl<ISigner32, &IID_ISigner32, &LIBID_TellvaneLib>,
                  public Tellvane::ObjectRoot,
                  public Tellvane::CreatableClass<CSigner32, &CLSID_Signer32> {
 public:
  static const Tellvane::InterfaceEntry<CSigner32>* interfaceMap(size_t& count);

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  HRESULT STDMETHODCALLTYPE showMessage(BSTR msg) override;
  HRESULT STDMETHODCALLTYPE getCertListAsJson(BSTR pin, BSTR* rv) override;
  HRESULT STDMETHODCALLTYPE signHash(BSTR encodedHash, BSTR certThumb, BSTR pinCode, BSTR* encodedSignature) override;
  HRESULT STDMETHODCALLTYPE signString(BSTR astr, BSTR certThumb, BSTR pinCode, BSTR* encodedSignature) override;
};
