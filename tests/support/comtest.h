// Helpers for tests that act as COM clients: owned BSTRs and VARIANTs,
// registry reads, GUID text and a server's exports.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <optional>
#include <string>

namespace comtest {

// One BSTR, freed with the object.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::u16string& s) : s_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  ~Bstr() { SysFreeString(s_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return s_; }
  BSTR* out() { return &s_; }
  std::u16string text() const { return s_ != nullptr ? std::u16string(s_, SysStringLen(s_)) : u""; }

 private:
  BSTR s_ = nullptr;
};

// One VARIANT, cleared with the object.
struct Variant : VARIANT {
  Variant() { VariantInit(this); }
  explicit Variant(const std::u16string& s) : Variant() {
    vt = VT_BSTR;
    bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  }
  explicit Variant(LONG v) : Variant() {
    vt = VT_I4;
    lVal = v;
  }
  ~Variant() { VariantClear(this); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  std::u16string text() const {
    return vt == VT_BSTR && bstrVal != nullptr ? std::u16string(bstrVal, SysStringLen(bstrVal)) : u"";
  }
};

inline bool keyExists(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline bool createKey(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// A string value of root\path (null name: the default value).
inline std::optional<std::u16string> regText(HKEY root, const std::u16string& path,
                                             const char16_t* name = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  WCHAR buffer[1024];
  DWORD size = sizeof buffer, type = 0;
  const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  std::u16string value(buffer, size / sizeof(WCHAR));
  while (!value.empty() && value.back() == 0) value.pop_back();
  return value;
}

inline std::u16string guidText(const GUID& guid) {
  WCHAR buffer[40];
  StringFromGUID2(guid, buffer, 40);
  return buffer;
}

// A server's exported functions, reached as a host would reach them.
template <class Function>
Function serverExport(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace comtest
