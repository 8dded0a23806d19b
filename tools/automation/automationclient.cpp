#include "automationclient.h"

#include <windows.h>

#include <cstdio>

#include "common/wide.h"

namespace automation {

namespace {

// Owns one VARIANT.
struct Variant : VARIANT {
  Variant() { VariantInit(this); }
  ~Variant() { VariantClear(this); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

// Owns what an exception raised by the called method filled in.
struct Exception : EXCEPINFO {
  Exception() : EXCEPINFO() {}
  ~Exception() {
    SysFreeString(bstrSource);
    SysFreeString(bstrDescription);
    SysFreeString(bstrHelpFile);
  }
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;

  HRESULT code() {
    if (pfnDeferredFillIn != nullptr) pfnDeferredFillIn(this);
    return scode != 0 ? scode : DISP_E_EXCEPTION;
  }
};

void check(HRESULT code, const std::string& doing) {
  if (FAILED(code)) throw ComError(doing, code);
}

// Arguments travel last one first in DISPPARAMS.
std::vector<Variant> argumentVariants(const std::vector<Argument>& arguments) {
  std::vector<Variant> variants(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    Variant& variant = variants[arguments.size() - 1 - i];
    variant.vt = VT_BSTR;
    variant.bstrVal = nullptr;    // VariantInit leaves the value as it was
    if (!arguments[i]) continue;  // a null BSTR
    const WideString text = toUtf16(*arguments[i]);
    variant.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (variant.bstrVal == nullptr) throw std::bad_alloc();
  }
  return variants;
}

// The default value of HKEY_CLASSES_ROOT\<ProgID>\CurVer, or nothing.
WideString currentVersion(const WideString& progId) {
  HKEY key = nullptr;
  const WideString path = progId + WSTR("\\CurVer");
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  WCHAR value[256];
  DWORD type = 0, size = sizeof value;
  const LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return {};
  WideString text(value, size / sizeof(WCHAR));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

// The class of a ProgID. A version-independent ProgID names its class
// through CurVer; Windows follows it, Wine 8 does not, so the client does.
HRESULT classOf(const WideString& progId, CLSID* clsid) {
  const HRESULT hr = CLSIDFromProgID(progId.c_str(), clsid);
  if (SUCCEEDED(hr)) return hr;
  const WideString current = currentVersion(progId);
  return current.empty() || current == progId ? hr : CLSIDFromProgID(current.c_str(), clsid);
}

}  // namespace

ComError::ComError(const std::string& doing, HRESULT code)
    : std::runtime_error(doing + ": " + hresultText(code)), code_(code) {}

std::string hresultText(HRESULT code) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(code));
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "Unknown error";
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return std::string(number) + " " + message;
}

WideString toUtf16(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (length <= 0) throw std::invalid_argument("the text is not UTF-8");
  WideString wide(static_cast<size_t>(length), 0);
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string toUtf8(const WCHAR* text, size_t length) {
  if (length == 0) return {};
  const int units = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) throw std::invalid_argument("the text is not UTF-16");
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

std::string invokeByName(IDispatch* object, const std::string& method, const std::vector<Argument>& arguments) {
  WideString name = toUtf16(method);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "looking up " + method);

  std::vector<Variant> variants = argumentVariants(arguments);
  DISPPARAMS parameters = {variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
  Variant result;
  Exception exception;
  UINT badArgument = 0;
  HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result, &exception,
                              &badArgument);
  if (hr == DISP_E_EXCEPTION) hr = exception.code();
  check(hr, "calling " + method);

  if (result.vt == VT_EMPTY) return {};
  Variant text;
  check(VariantChangeType(&text, &result, VARIANT_ALPHABOOL, VT_BSTR), "reading the value of " + method);
  return toUtf8(text.bstrVal, SysStringLen(text.bstrVal));
}

AutomationClient::Apartment::Apartment() {
  check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "initialising COM");
}

AutomationClient::Apartment::~Apartment() { CoUninitialize(); }

AutomationClient::AutomationClient(const std::string& progId) {
  CLSID clsid;
  check(classOf(toUtf16(progId), &clsid), "finding " + progId);
  check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object_)),
        "creating " + progId);
}

AutomationClient::~AutomationClient() { object_->Release(); }

}  // namespace automation
