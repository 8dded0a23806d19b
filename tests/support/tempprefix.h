// Temporary folders for tests: a plain one, and a fresh platform prefix that
// TELLVANE_PREFIX points at while the object lives. Both are removed afterwards.
#pragma once

#include <string>

#include "support/scopedenv.h"

namespace tvtest {

// A new folder in the system's temporary folder, named <name>-XXXXXX.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name = "tellvane-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::string& path() const { return folder_.path(); }
  // A path under the prefix ("certstores/user/My" -> "<prefix>/certstores/user/My").
  std::string operator/(const std::string& relative) const { return path() + "/" + relative; }

 private:
  TempFolder folder_;
  ScopedEnv variable_;
};

// Writes bytes to a file, creating its missing parent folders.
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace tvtest
