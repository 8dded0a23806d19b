// Handles of the stand-in's own objects (providers, hashes, keys): small
// numbers looked up in a table, so that a stale or made-up handle is refused
// with an error instead of being dereferenced.
#pragma once

#include <windef.h>

#include <memory>
#include <mutex>
#include <unordered_map>

#include "internal/win32call.h"

namespace tv {

template <class T>
class HandleTable {
 public:
  // Fails with invalidCode for every handle that add() did not return or that
  // was removed since.
  explicit HandleTable(DWORD invalidCode) : invalidCode_(invalidCode) {}

  ULONG_PTR add(std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const ULONG_PTR handle = next_++;
    objects_.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<T> get(ULONG_PTR handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) fail(invalidCode_);
    return found->second;
  }

  void remove(ULONG_PTR handle) {
    std::shared_ptr<T> released;  // destroyed after the lock is given back
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) fail(invalidCode_);
    released = std::move(found->second);
    objects_.erase(found);
  }

 private:
  DWORD invalidCode_;
  mutable std::mutex mutex_;
  std::unordered_map<ULONG_PTR, std::shared_ptr<T>> objects_;
  ULONG_PTR next_ = 0x1000;
};

}  // namespace tv
