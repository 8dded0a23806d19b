// The two hives on disk: <prefix>/registry/machine.reg (HKEY_LOCAL_MACHINE)
// and <prefix>/registry/user.reg (HKEY_CURRENT_USER). A change is made under
// an exclusive lock on the hive's lock file, held from reading the hive to
// renaming its new text into place, so that two processes changing one hive
// at once both keep their change and a crash leaves the old or the new hive,
// never a torn one.
#pragma once

#include "advapi32/regfile.h"

#include <memory>
#include <string>

namespace tv {

enum class Hive { Machine, User };

// The hive as it is now, to change; an empty hive when its file does not
// exist yet. A file that does not parse fails with ERROR_BADDB and is left
// alone.
std::unique_ptr<RegKey> loadHive(Hive hive);

// The hive as it is now, to read: parsed again only when the file has
// changed since the last call.
std::shared_ptr<const RegKey> readHive(Hive hive);

// Holds a hive's lock for one read-modify-write.
class HiveLock {
 public:
  explicit HiveLock(Hive hive);
  ~HiveLock();
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;

  // Replaces the hive's file with this text of the hive: written to a
  // temporary file beside it, flushed to disk, then renamed over it.
  void store(const RegKey& root);

 private:
  Hive hive_;
  int fd_;
};

}  // namespace tv
