// The COM test server: an in-process server with one class, Greeter. Its
// dual interface IGreeter has the argument shapes scripts pass; the tests
// call it through the runtime's DispInvoke with the module's type library,
// and register the class themselves.
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <string>

#include "testserver.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<long> locks{0};

std::u16string text(BSTR s) { return s != nullptr ? std::u16string(s, SysStringLen(s)) : u""; }
BSTR bstr(const std::u16string& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

class Greeter final : public IGreeter {
 public:
  Greeter() { ++locks; }
  ~Greeter() { --locks; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != kIidGreeter) return E_NOINTERFACE;
    *ppv = static_cast<IGreeter*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // Calls by name go through DispInvoke in the tests, not through the object.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE show(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE greet(BSTR name, BSTR* greeting) override {
    if (greeting == nullptr) return E_INVALIDARG;
    *greeting = bstr(u"Hello, " + text(name) + u"!");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE join(BSTR first, BSTR second, BSTR third, BSTR* joined) override {
    if (joined == nullptr) return E_INVALIDARG;
    *joined = bstr(text(first) + u"|" + text(second) + u"|" + text(third));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE refuse(BSTR, BSTR* never) override {
    if (never != nullptr) *never = nullptr;
    return kRefusal;
  }
  HRESULT STDMETHODCALLTYPE add(LONG a, LONG b, LONG* sum) override {
    if (sum == nullptr) return E_INVALIDARG;
    *sum = a + b;
    return S_OK;
  }
  // "<type>:<value as text>".
  HRESULT STDMETHODCALLTYPE describe(VARIANT value, BSTR* out) override {
    if (out == nullptr) return E_INVALIDARG;
    VARIANT asText;
    VariantInit(&asText);
    const HRESULT hr = VariantChangeType(&asText, &value, VARIANT_ALPHABOOL, VT_BSTR);
    const std::string type = std::to_string(value.vt) + ":";
    *out = bstr(std::u16string(type.begin(), type.end()) + (SUCCEEDED(hr) ? text(asText.bstrVal) : u"?"));
    VariantClear(&asText);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE split(BSTR whole, BSTR* head, BSTR* tail) override {
    if (head == nullptr || tail == nullptr) return E_INVALIDARG;
    const std::u16string s = text(whole);
    const size_t space = s.find(u' ');
    SysFreeString(*head);  // an [in, out]-style slot the caller may have filled
    *head = bstr(s.substr(0, space));
    *tail = bstr(space == std::u16string::npos ? u"" : s.substr(space + 1));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_calls(LONG* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // The factory lives as long as the module; its references lock the server.
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++locks); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--locks); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new Greeter;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
    fLock ? ++locks : --locks;
    return S_OK;
  }
};

Factory factory;

}  // namespace

EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != kClsidGreeter) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, ppv);
}

EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() { return locks == 0 ? S_OK : S_FALSE; }
