// The type-library loader: any file is refused or loads into a library
// whose every type, function and name can be asked for.
#include <oleauto.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "oleaut32/typelibdata.h"

namespace {

void walk(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  if (info->GetTypeAttr(&attr) != S_OK) return;
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* desc = nullptr;
    if (info->GetFuncDesc(i, &desc) != S_OK) continue;
    BSTR names[8] = {};
    UINT count = 0;
    if (info->GetNames(desc->memid, names, 8, &count) == S_OK)
      for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    info->ReleaseFuncDesc(desc);
  }
  for (UINT i = 0; i < attr->cImplTypes; ++i) {
    HREFTYPE ref = 0;
    ITypeInfo* other = nullptr;
    if (info->GetRefTypeOfImplType(i, &ref) == S_OK && info->GetRefTypeInfo(ref, &other) == S_OK) other->Release();
  }
  info->ReleaseTypeAttr(attr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Without the library's magic LoadTypeLib hands the file to the dynamic
  // loader as a module, which is not this target's business.
  if (size < 4 || std::memcmp(data, tv::typelib::kMagic, 4) != 0) return 0;
  // LoadTypeLib reads a file: each input is written to one of this process's own.
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("tellvane-fuzz-typelib-" + std::to_string(getpid()) + ".tlb")).string();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  ITypeLib* library = nullptr;
  if (LoadTypeLib(std::u16string(path.begin(), path.end()).c_str(), &library) != S_OK) return 0;
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    ITypeInfo* info = nullptr;
    if (library->GetTypeInfo(i, &info) != S_OK) continue;
    walk(info);
    info->Release();
    BSTR name = nullptr;
    if (library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr) != S_OK) continue;
    // Every type's name is found by IsName (a name with a NUL in it is cut there).
    BOOL found = FALSE;
    const bool whole = name != nullptr && std::u16string(name).size() == SysStringLen(name);
    if (whole && library->IsName(name, 0, &found) == S_OK && !found) std::abort();
    SysFreeString(name);
  }
  library->Release();
  return 0;
}
