#include "support/debugcapture.h"

namespace tvtest {

DebugCapture::DebugCapture() {
  TvGetDebugOutputHook(&previousHook_, &previousContext_);
  TvSetDebugOutputHook(&DebugCapture::receive, this);
}

DebugCapture::~DebugCapture() { TvSetDebugOutputHook(previousHook_, previousContext_); }

std::vector<std::string> DebugCapture::lines() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lines_;
}

void DebugCapture::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  lines_.clear();
}

void DebugCapture::receive(const char* text, void* context) {
  auto* self = static_cast<DebugCapture*>(context);
  {
    std::lock_guard<std::mutex> guard(self->lock_);
    self->lines_.emplace_back(text);
  }
  if (self->previousHook_ != nullptr) self->previousHook_(text, self->previousContext_);
}

}  // namespace tvtest
