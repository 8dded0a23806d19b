#include "text.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace tool {

Bstr::Bstr(const std::string& utf8) {
  std::u16string wide;
  if (!utf8.empty()) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) throw std::runtime_error("the text is not UTF-8");
    wide.resize(static_cast<size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  }
  value_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (value_ == nullptr) throw std::bad_alloc();
}

std::string Bstr::utf8() const {
  const int units = static_cast<int>(SysStringLen(value_));
  if (units == 0) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, value_, units, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, value_, units, text.data(), length, nullptr, nullptr);
  return text;
}

std::string readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tool
