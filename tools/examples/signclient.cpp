// A COM client of Tellvane, as short as one can be: it creates the object
// by its ProgID, looks the method up by name and calls it through
// IDispatch, as a page's script does. The same source builds on Windows.
//
//   signclient                      the certificate list
//   signclient THUMBPRINT TEXT      the text signed with that certificate
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

// A new BSTR holding UTF-8 text (null for a null text: "no PIN").
static BSTR bstr(const char* utf8) {
  if (utf8 == nullptr) return nullptr;
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, length);
  return text;
}

// Calls a method by name with text arguments and prints the text it returns.
static HRESULT call(IDispatch* object, const char* method, const char* const* texts, UINT count) {
  BSTR name = bstr(method);
  DISPID id = 0;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  SysFreeString(name);
  if (FAILED(hr)) return hr;

  VARIANT args[4];
  for (UINT i = 0; i < count; ++i) {  // the last argument comes first
    VariantInit(&args[count - 1 - i]);
    args[count - 1 - i].vt = VT_BSTR;
    args[count - 1 - i].bstrVal = bstr(texts[i]);
  }
  DISPPARAMS params = {args, nullptr, count, 0};
  VARIANT result;
  VariantInit(&result);
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
  if (SUCCEEDED(hr) && result.vt == VT_BSTR) {
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, result.bstrVal, -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, result.bstrVal, -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    std::printf("%s\n", utf8.c_str());  // the JSON envelope: read its "success"
  }
  VariantClear(&result);
  for (UINT i = 0; i < count; ++i) VariantClear(&args[i]);
  return hr;
}

int main(int argc, char** argv) {
  if (argc != 1 && argc != 3) {
    std::fprintf(stderr, "usage: signclient [THUMBPRINT TEXT]\n");
    return 2;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return 1;
  BSTR progId = bstr("Tellvane.Signer32");
  CLSID clsid;
  IDispatch* signer = nullptr;
  hr = CLSIDFromProgID(progId, &clsid);
  SysFreeString(progId);
  if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, (void**)&signer);
  if (SUCCEEDED(hr)) {
    const char* const list[] = {nullptr};                           // getCertListAsJson(pin)
    const char* const sign[] = {argv[argc - 1], argv[1], nullptr};  // signString(text, thumbprint, pin)
    hr = argc == 1 ? call(signer, "getCertListAsJson", list, 1) : call(signer, "signString", sign, 3);
    signer->Release();
  }
  if (FAILED(hr)) std::fprintf(stderr, "signclient: failed with 0x%08X\n", static_cast<unsigned>(hr));
  CoUninitialize();
  return FAILED(hr) ? 1 : 0;
}
