// The class factory of one class: made once with the server module and kept
// while it lives. While a client holds a reference to it, or has locked it,
// the module stays locked.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace Tellvane {

class ClassFactory final : public IClassFactory {
 public:
  using Creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

  explicit ClassFactory(Creator creator) : creator_(creator) {}
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

 private:
  Creator creator_;
  LONG volatile references_ = 0;  // the clients' references; factories are called from any thread
};

}  // namespace Tellvane
