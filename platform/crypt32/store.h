// An open system store: what its handle stands for. Its contexts keep it
// alive (see attachToStore), so that a context whose store was closed still
// reaches the store's folder for its properties.
#pragma once

#include <wincrypt.h>

#include <mutex>
#include <string>
#include <vector>

namespace tv {

struct StoreRecord {
  std::mutex lock;                           // a handle may be enumerated and added to at once
  std::vector<PCCERT_CONTEXT> certificates;  // one reference each while the store is open
  std::string folder;                        // where the store's certificates and properties are kept
  bool readOnly = false;
};

// Writes a file whole or not at all, under a temporary name ending in
// `temporarySuffix` that is then renamed into place: a reader never sees
// half of it. Fails with ERROR_WRITE_FAULT.
void writeWholeFile(const std::string& path, const std::string& temporarySuffix, const BYTE* data, size_t size);

}  // namespace tv
