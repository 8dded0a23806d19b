// Temporary folders for tests: a plain one, and a fresh platform prefix that
// TELLVANE_PREFIX points at while the object lives. Both are removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "support/scopedenv.h"

namespace tvtest {

// A new folder in the system's temporary folder, named <name>-XXXXXX.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name = "tellvane-test")
      : path_((std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string()) {
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class TempPrefix {
 public:
  TempPrefix() : variable_("TELLVANE_PREFIX", folder_.path().c_str()) {}

  const std::string& path() const { return folder_.path(); }
  // A path under the prefix ("certstores/user/My" -> "<prefix>/certstores/user/My").
  std::string operator/(const std::string& relative) const { return path() + "/" + relative; }

 private:
  TempFolder folder_;
  ScopedEnv variable_;
};

// Writes bytes to a file, creating its missing parent folders.
inline void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The bytes of a file ("" when it cannot be read).
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tvtest
