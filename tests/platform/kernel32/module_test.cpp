// Loading and unloading modules, their paths and their exports.
#include <windows.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/wide.h"

namespace {

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

const std::string modulePath = TV_TEST_MODULE;

bool isLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

TEST(Module, CountsLoadsAndReferencesUntilTheLastFree) {
  HMODULE module = LoadLibraryW(wide(modulePath).c_str());
  ASSERT_NE(module, nullptr);
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "TestModuleAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(LoadLibraryW(wide(modulePath).c_str()), module);
  // Without UNCHANGED_REFCOUNT the handle carries a reference of its own.
  HMODULE extra = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(answer), &extra));
  EXPECT_EQ(extra, module);
  for (int reference = 0; reference < 3; ++reference) {
    EXPECT_TRUE(isLoaded(modulePath));
    EXPECT_TRUE(FreeLibrary(module));
  }
  EXPECT_FALSE(isLoaded(modulePath));
  // The handle of an unloaded module names nothing any more.
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Module, ReportsMissingModulesAndProcedures) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(WSTR("/nonexistent/library.so")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleW(WSTR("no-such-module.so")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  HMODULE module = LoadLibraryW(wide(modulePath).c_str());
  ASSERT_NE(module, nullptr);
  // A function of a library the module depends on is not its export.
  for (const char* name : {"NoSuchFunction", "GetModuleHandleExW", static_cast<const char*>(MAKEINTRESOURCEA(1))}) {
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, name), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  }
  FreeLibrary(module);
}

TEST(Module, ModuleKnowsItsOwnHandleAndFullPath) {
  HMODULE module = LoadLibraryW(wide(modulePath).c_str());
  ASSERT_NE(module, nullptr);
  auto ownHandle = reinterpret_cast<HMODULE (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "TestModuleOwnHandle")));
  ASSERT_NE(ownHandle, nullptr);
  EXPECT_EQ(ownHandle(), module);
  EXPECT_EQ(GetModuleHandleW(wide(std::filesystem::path(modulePath).filename().string()).c_str()), module);

  WCHAR path[4096];
  const std::string expected = std::filesystem::canonical(modulePath).string();
  EXPECT_EQ(std::u16string(path, GetModuleFileNameW(module, path, 4096)), wide(expected));
  // Too small a buffer: the path cut short, terminated, the size returned.
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(module, path, 5), 5u);
  EXPECT_EQ(std::u16string(path), wide(expected.substr(0, 4)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  FreeLibrary(module);

  // A null handle names the program.
  EXPECT_EQ(std::u16string(path, GetModuleFileNameW(nullptr, path, 4096)),
            wide(std::filesystem::canonical("/proc/self/exe").string()));
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
}

// The system libraries' names stand for the stand-in's own library, so that
// a module looks up optional functions as it would on Windows.
TEST(Module, SystemLibraryNamesNameThePlatform) {
  HMODULE platform = GetModuleHandleW(WSTR("OLEAUT32.DLL"));
  ASSERT_NE(platform, nullptr);
  EXPECT_NE(GetProcAddress(platform, "RegisterTypeLibForUser"), nullptr);
  for (const WCHAR* name : {WSTR("kernel32.dll"), WSTR("Advapi32"), WSTR("user32.DLL")})
    EXPECT_EQ(GetModuleHandleW(name), platform);
  HMODULE loaded = LoadLibraryW(WSTR("ole32.dll"));
  EXPECT_EQ(loaded, platform);
  EXPECT_TRUE(FreeLibrary(loaded));
  EXPECT_EQ(GetModuleHandleW(WSTR("oleaut64.dll")), nullptr);
}

}  // namespace
