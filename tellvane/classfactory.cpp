#include "tellvane/classfactory.h"

#include "tellvane/servermodule.h"

namespace Tellvane {

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG ClassFactory::AddRef() {
  const LONG count = InterlockedIncrement(&references_);
  if (count == 1) lockModule();
  return static_cast<ULONG>(count);
}

ULONG ClassFactory::Release() {
  const LONG count = InterlockedDecrement(&references_);
  if (count == 0) unlockModule();
  return static_cast<ULONG>(count);
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
  return creator_(pUnkOuter, riid, ppvObject);
}

HRESULT ClassFactory::LockServer(BOOL fLock) {
  if (fLock)
    lockModule();
  else
    unlockModule();
  return S_OK;
}

}  // namespace Tellvane
