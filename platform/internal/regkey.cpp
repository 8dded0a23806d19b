#include "internal/regkey.h"

namespace tv {

std::optional<ComKey> ComKey::open(HKEY root, const std::u16string& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return std::nullopt;
  return ComKey(key);
}

LSTATUS ComKey::create(HKEY root, const std::u16string& path, std::optional<ComKey>& key, bool* created) {
  HKEY handle = nullptr;
  DWORD disposition = 0;
  const LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_READ | KEY_WRITE, nullptr, &handle, &disposition);
  if (status != ERROR_SUCCESS) return status;
  key.emplace(ComKey(handle));
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

ComKey::~ComKey() {
  if (key_ != nullptr) RegCloseKey(key_);
}

std::optional<std::u16string> ComKey::text(const char16_t* name) const {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::u16string value(size / sizeof(char16_t) + 1, u'\0');
  if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
    return std::nullopt;
  value.resize(size / sizeof(char16_t));
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  return value;
}

LSTATUS ComKey::setText(const char16_t* name, const std::u16string& value) const {
  return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
}

std::vector<std::u16string> ComKey::subkeys() const {
  std::vector<std::u16string> names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

std::optional<std::u16string> defaultValue(HKEY root, const std::u16string& path) {
  const std::optional<ComKey> key = ComKey::open(root, path);
  if (!key) return std::nullopt;
  return key->text();
}

}  // namespace tv
