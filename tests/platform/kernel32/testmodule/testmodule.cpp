// A small module for the module and resource tests: it carries resources of
// its own and reports its own handle as a DLL would find it.
#include <windows.h>

extern "C" __attribute__((visibility("default"))) HMODULE TestModuleOwnHandle() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&TestModuleOwnHandle), &self);
  return self;
}

extern "C" __attribute__((visibility("default"))) int TestModuleAnswer() { return 42; }
