// Collects the debug output of the process while it lives: every string
// handed to OutputDebugStringA, in order. Strings also go on to the hook
// that was installed before, which is put back on destruction.
#pragma once

#include <tvplatform.h>

#include <mutex>
#include <string>
#include <vector>

namespace tvtest {

class DebugCapture {
 public:
  DebugCapture() {
    TvGetDebugOutputHook(&previousHook_, &previousContext_);
    TvSetDebugOutputHook(&DebugCapture::receive, this);
  }
  ~DebugCapture() { TvSetDebugOutputHook(previousHook_, previousContext_); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  // The strings captured so far, in the order they were written.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
  }

 private:
  static void receive(const char* text, void* context) {
    auto* self = static_cast<DebugCapture*>(context);
    {
      std::lock_guard<std::mutex> guard(self->lock_);
      self->lines_.emplace_back(text);
    }
    if (self->previousHook_ != nullptr) self->previousHook_(text, self->previousContext_);
  }

  TvDebugOutputHook previousHook_ = nullptr;
  void* previousContext_ = nullptr;
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

}  // namespace tvtest
