// Registry keys for the COM runtime's class, ProgID and type library keys,
// opened through advapi32's exported functions; shared by ole32 (classes)
// and oleaut32 (type library registration).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tv {

// One open registry key, closed when the object goes (named apart from the
// registry's own key class, which is another type).
class ComKey {
 public:
  // Null when the key does not exist or cannot be opened.
  static std::optional<ComKey> open(HKEY root, const std::u16string& path, REGSAM access = KEY_READ);
  // Creates or opens; the status is returned instead of a key on failure.
  static LSTATUS create(HKEY root, const std::u16string& path, std::optional<ComKey>& key,
                        bool* created = nullptr);

  ComKey(ComKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  ComKey& operator=(ComKey&&) = delete;
  ComKey(const ComKey&) = delete;
  ~ComKey();

  HKEY get() const { return key_; }
  // A string value (REG_SZ or REG_EXPAND_SZ); null name for the default.
  std::optional<std::u16string> text(const char16_t* name = nullptr) const;
  LSTATUS setText(const char16_t* name, const std::u16string& value) const;
  std::vector<std::u16string> subkeys() const;

 private:
  explicit ComKey(HKEY key) : key_(key) {}
  HKEY key_;
};

// The default value of root\path, when the key and a string value exist.
std::optional<std::u16string> defaultValue(HKEY root, const std::u16string& path);

}  // namespace tv
