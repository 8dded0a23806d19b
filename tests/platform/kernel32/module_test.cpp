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

TEST(Module, LoadsCallsAndUnloadsALibraryByItsPath) {
  HMODULE module = LoadLibraryW(wide(modulePath).c_str());
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(isLoaded(modulePath));
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "TestModuleAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);

  // Loads are counted: the module stays until the last FreeLibrary.
  EXPECT_EQ(LoadLibraryW(wide(modulePath).c_str()), module);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(isLoaded(modulePath));
  EXPECT_TRUE(FreeLibrary(module));
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

  HMODULE module = LoadLibraryW(wide(modulePath).c_str());
  ASSERT_NE(module, nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // A function of a library the module depends on is not its export.
  EXPECT_EQ(GetProcAddress(module, "GetModuleHandleExW"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), nullptr);
  FreeLibrary(module);

  SetLastError(0);
  EXPECT_EQ(GetModuleHandleW(WSTR("no-such-module.so")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Module, ModuleKnowsItsOwnHandleAndFullPath) {
  HMODULE module = LoadLibraryW(wide(modulePath).c_str());
  ASSERT_NE(module, nullptr);
  FARPROC own = GetProcAddress(module, "TestModuleOwnHandle");
  auto ownHandle = reinterpret_cast<HMODULE (*)()>(reinterpret_cast<void*>(own));
  ASSERT_NE(ownHandle, nullptr);
  EXPECT_EQ(ownHandle(), module);

  std::string fileName = std::filesystem::path(modulePath).filename().string();
  EXPECT_EQ(GetModuleHandleW(wide(fileName).c_str()), module);
  EXPECT_EQ(GetModuleHandleW(wide(modulePath).c_str()), module);

  WCHAR path[4096];
  DWORD length = GetModuleFileNameW(module, path, 4096);
  std::string expected = std::filesystem::canonical(modulePath).string();
  EXPECT_EQ(std::u16string(path, length), wide(expected));

  // Too small a buffer: the path cut short, terminated, the size returned.
  WCHAR small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(module, small, 5), 5u);
  EXPECT_EQ(std::u16string(small), wide(expected.substr(0, 4)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  FreeLibrary(module);
}

TEST(Module, NullHandleNamesTheProgram) {
  WCHAR path[4096];
  DWORD length = GetModuleFileNameW(nullptr, path, 4096);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::u16string(path, length), wide(std::filesystem::canonical("/proc/self/exe").string()));
  EXPECT_EQ(GetModuleHandleW(nullptr), GetModuleHandleW(nullptr));
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);

  // Without UNCHANGED_REFCOUNT the handle carries a reference of its own.
  HMODULE module = LoadLibraryW(wide(modulePath).c_str());
  auto answer = GetProcAddress(module, "TestModuleAnswer");
  HMODULE extra = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(answer), &extra));
  EXPECT_EQ(extra, module);
  FreeLibrary(module);
  EXPECT_TRUE(isLoaded(modulePath));
  FreeLibrary(extra);
  EXPECT_FALSE(isLoaded(modulePath));
}

}  // namespace

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
