// A platform prefix of the fuzz target's own in the system temporary folder,
// so that whatever the target writes stays away from the user's.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

inline void useTemporaryPrefix(const std::string& target) {
  static std::string path;
  path = (std::filesystem::temp_directory_path() / ("tellvane-fuzz-" + target + "-XXXXXX")).string();
  if (mkdtemp(path.data()) == nullptr) std::abort();
  setenv("TELLVANE_PREFIX", path.c_str(), 1);
}
