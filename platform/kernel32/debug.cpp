// kernel32: the debug output. Each string goes unchanged to whoever listens:
// the in-process hook of a host or test, and the datagram socket that a
// trace viewer binds. With no listener it is lost, as on Windows.
#include "kernel32/debugsocket.h"

#include <tvplatform.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace {

struct Hook {
  TvDebugOutputHook function = nullptr;
  void* context = nullptr;
};

// Writers of the debug output hold the lock shared while the hook runs, so
// that once TvSetDebugOutputHook returns no call of the old hook is running.
std::shared_mutex hookLock;
Hook hook;
std::atomic<bool> hookInstalled{false};
// A hook that writes debug output itself runs again without a second lock.
thread_local bool insideHook = false;

// Tracing never disturbs the caller's last error, whatever the hook calls.
void callHook(const char* text) {
  // A hook stays installed while it runs (removing it waits for the lock).
  if (!hookInstalled.load(std::memory_order_acquire)) return;
  const DWORD lastError = GetLastError();
  if (insideHook) {
    hook.function(text, hook.context);
    SetLastError(lastError);
    return;
  }
  std::shared_lock<std::shared_mutex> lock(hookLock);
  if (hook.function == nullptr) return;
  insideHook = true;
  try {
    hook.function(text, hook.context);
  } catch (...) {
    // A throwing hook must not unwind through a C caller.
  }
  insideHook = false;
  SetLastError(lastError);
}

}  // namespace

WINBASEAPI void WINAPI TvSetDebugOutputHook(TvDebugOutputHook function, void* context) {
  std::unique_lock<std::shared_mutex> lock(hookLock);
  hook = Hook{function, context};
  hookInstalled.store(function != nullptr, std::memory_order_release);
}

WINBASEAPI void WINAPI TvGetDebugOutputHook(TvDebugOutputHook* function, void** context) {
  std::shared_lock<std::shared_mutex> lock(hookLock);
  if (function != nullptr) *function = hook.function;
  if (context != nullptr) *context = hook.context;
}

WINBASEAPI void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  callHook(lpOutputString);
  tv::sendDebugDatagram(lpOutputString);  // POSIX calls only: the last error stays
}

WINBASEAPI void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  const DWORD lastError = GetLastError();
  std::string narrow;
  const int size = WideCharToMultiByte(CP_ACP, 0, lpOutputString, -1, nullptr, 0, nullptr, nullptr);
  if (size > 0) {
    narrow.resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_ACP, 0, lpOutputString, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size) - 1);
  }
  SetLastError(lastError);
  OutputDebugStringA(narrow.c_str());
}
