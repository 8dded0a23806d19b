// A fresh platform prefix for one test: a temporary folder that
// TELLVANE_PREFIX points at while the object lives, removed afterwards.
#pragma once

#include <optional>
#include <string>

#include "support/scopedenv.h"

namespace tvtest {

class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::string& path() const { return path_; }
  // A path under the prefix ("certstores/user/My" -> "<prefix>/certstores/user/My").
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
  std::optional<ScopedEnv> variable_;
};

// Writes bytes to a file, creating its missing parent folders.
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace tvtest
