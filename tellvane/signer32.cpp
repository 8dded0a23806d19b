#include "tellvane/signer32.h"

#include "common/wide.h"
#include "shared/clientcrypto.h"
#include "tellvane/debugtrace.h"

namespace {

const DWORD kSafeForScripting = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

}  // namespace

HRESULT CSafeObject::GetInterfaceSafetyOptions(REFIID, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) {
  TELLVANE_TRACE("CSafeObject::GetInterfaceSafetyOptions");
  if (pdwSupportedOptions == nullptr || pdwEnabledOptions == nullptr) return E_POINTER;
  *pdwSupportedOptions = kSafeForScripting;
  *pdwEnabledOptions = kSafeForScripting;
  return S_OK;
}

HRESULT CSafeObject::SetInterfaceSafetyOptions(REFIID, DWORD, DWORD) {
  TELLVANE_TRACE("CSafeObject::SetInterfaceSafetyOptions");
  return S_OK;
}

const Tellvane::InterfaceEntry<CSigner32>* CSigner32::interfaceMap(size_t& count) {
  static const Tellvane::InterfaceEntry<CSigner32> entries[] = {
      {&IID_ISigner32, [](CSigner32* o) -> IUnknown* { return static_cast<ISigner32*>(o); }},
      {&IID_IObjectSafety, [](CSigner32* o) -> IUnknown* { return static_cast<IObjectSafety*>(o); }},
      {&IID_IDispatch, [](CSigner32* o) -> IUnknown* { return static_cast<ISigner32*>(o); }},
      {&IID_ISupportErrorInfo, [](CSigner32* o) -> IUnknown* { return static_cast<ISupportErrorInfo*>(o); }},
  };
  count = sizeof entries / sizeof entries[0];
  return entries;
}

HRESULT CSigner32::InterfaceSupportsErrorInfo(REFIID riid) { return IsEqualGUID(riid, IID_ISigner32) ? S_OK : S_FALSE; }

HRESULT CSigner32::showMessage(BSTR msg) {
  MessageBoxW(nullptr, msg, WSTR("Сообщение"), MB_ICONINFORMATION);
  return S_OK;
}

HRESULT CSigner32::getCertListAsJson(BSTR pin, BSTR* rv) {
  ClientCrypto crypto;
  return crypto.getCertListAsJson(pin, rv);
}

HRESULT CSigner32::signHash(BSTR encodedHash, BSTR certThumb, BSTR pinCode, BSTR* encodedSignature) {
  TELLVANE_TRACE("CSigner32::signHash");
  ClientCrypto crypto;
  return crypto.signHash(encodedHash, certThumb, pinCode, encodedSignature);
}

HRESULT CSigner32::signString(BSTR astr, BSTR certThumb, BSTR pinCode, BSTR* encodedSignature) {
  TELLVANE_TRACE("CSigner32::signString");
  ClientCrypto crypto;
  return crypto.signString(astr, certThumb, pinCode, encodedSignature);
}
