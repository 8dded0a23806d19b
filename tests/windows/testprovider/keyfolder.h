// The test provider's key containers: one file each, "<name>.key", in the
// folder that the provider's registry key names ("Key Folder"). A file is
// an S-expression holding up to two keys, each its curve's object
// identifier, its private value in hexadecimal and, when it is protected,
// its PIN:
//
//   (container
//    (exchange (curve "1.2.643.2.2.35.1") (d "9328FF...") (pin "1234"))
//    (signature (curve "1.2.643.2.2.35.1") (d "...")))
#pragma once

#include "gost.h"

#include <memory>
#include <string>
#include <vector>

namespace testprovider {

struct StoredKey {
  Key key;
  bool protectedByPin;
  std::string pin;
};

class Container {
 public:
  // The container as stored; NTE_BAD_KEYSET when there is none.
  Container(const std::string& folder, const std::string& name);

  static void create(const std::string& folder, const std::string& name);  // NTE_EXISTS
  static void remove(const std::string& folder, const std::string& name);  // NTE_BAD_KEYSET
  static std::vector<std::string> list(const std::string& folder);

  // AT_KEYEXCHANGE or AT_SIGNATURE; null when the container holds none.
  const StoredKey* key(DWORD keySpec) const;
  // Stores a key without PIN in the container's file.
  void setKey(DWORD keySpec, const Key& key);

 private:
  void save() const;

  std::string path_;
  std::unique_ptr<StoredKey> keys_[2];  // exchange, signature
};

}  // namespace testprovider
