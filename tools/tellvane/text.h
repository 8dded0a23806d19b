// Text at the host's edges: command-line arguments and output are UTF-8,
// the component's automation strings are UTF-16.
#pragma once

#include <oleauto.h>

#include <string>

namespace tool {

// Owns one automation string.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::string& utf8);  // a new string holding the text
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return value_; }
  BSTR* out() { return &value_; }  // for an operation's result; must be empty
  std::string utf8() const;

 private:
  BSTR value_ = nullptr;
};

std::string readFileBytes(const std::string& path);

}  // namespace tool
