// The COM test server: an in-process server with one class, Greeter, whose
// dual interface IGreeter is served through IDispatch from the registered
// type library, as the component's own object is.
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <string>
#include <utility>

#include "testserver.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<long> locks{0};

std::u16string text(BSTR s) { return s != nullptr ? std::u16string(s, SysStringLen(s)) : u""; }
BSTR bstr(const std::u16string& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

std::u16string modulePath() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&modulePath), &self);
  WCHAR path[4096];
  const DWORD length = GetModuleFileNameW(self, path, 4096);
  return std::u16string(path, length);
}

class Greeter final : public IGreeter {
 public:
  Greeter() { ++locks; }
  ~Greeter() {
    if (typeInfo_ != nullptr) typeInfo_->Release();
    --locks;
  }

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
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(typeInfo_, rgszNames, cNames, rgDispId);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    ++calls_;
    return DispInvoke(static_cast<IGreeter*>(this), typeInfo_, dispIdMember, wFlags, pDispParams, pVarResult,
                      pExcepInfo, puArgErr);
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
    *count = calls_;
    return S_OK;
  }

 private:
  // The dispatch half reads the registered type library, as the component's
  // object does: without a registration, calls by name fail.
  HRESULT loadTypeInfo() {
    if (typeInfo_ != nullptr) return S_OK;
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(kLibidTestServer, 1, 0, 0, &lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(kIidGreeter, &typeInfo_);
    lib->Release();
    return hr;
  }

  std::atomic<ULONG> references_{1};
  ITypeInfo* typeInfo_ = nullptr;
  LONG calls_ = 0;
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

// Sets the default value of a key of the classes root.
LSTATUS setKey(const std::u16string& path, const std::u16string& value) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  return status;
}

std::u16string guidText(const GUID& guid) {
  WCHAR buffer[40];
  StringFromGUID2(guid, buffer, 40);
  return buffer;
}

}  // namespace

EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != kClsidGreeter) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, ppv);
}

EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() { return locks == 0 ? S_OK : S_FALSE; }

EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
  const std::u16string path = modulePath();
  const std::u16string clsid = u"CLSID\\" + guidText(kClsidGreeter);
  // What the runtime reads: the ProgIDs' way to the class, and its server.
  const std::pair<std::u16string, std::u16string> entries[] = {{u"Tv.Greeter.1\\CLSID", guidText(kClsidGreeter)},
                                                                 {u"Tv.Greeter\\CurVer", u"Tv.Greeter.1"},
                                                                 {clsid + u"\\ProgID", u"Tv.Greeter.1"},
                                                                 {clsid + u"\\InprocServer32", path}};
  for (const auto& [key, value] : entries)
    if (setKey(key, value) != ERROR_SUCCESS) return E_FAIL;
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLib(path.c_str(), &lib);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(lib, path.c_str(), nullptr);
  lib->Release();
  return hr;
}
