// kernel32 modules over the dynamic loader: LoadLibraryW is dlopen,
// FreeLibrary dlclose (both counted, as on Windows), GetProcAddress dlsym
// limited to the module's own symbols.
#include "kernel32/module.h"
#include "internal/regularfile.h"
#include "internal/utf.h"
#include "internal/win32call.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tv {

namespace {

link_map* programModule() {
  static link_map* const program = [] {
    link_map* map = nullptr;
    void* self = dlopen(nullptr, RTLD_NOW);
    if (self != nullptr) {
      dlinfo(self, RTLD_DI_LINKMAP, &map);
      dlclose(self);
    }
    return map;
  }();
  return program;
}

HMODULE handleOf(link_map* map) { return reinterpret_cast<HMODULE>(map); }

// Visits the loaded objects until visit returns true; the loader's list
// cannot change meanwhile, since dl_iterate_phdr holds its lock while its
// callback runs.
template <class Visit>
link_map* findLoaded(Visit visit) {
  struct Search {
    Visit& visit;
    link_map* first;
    link_map* found;
  } search{visit, programModule(), nullptr};  // found before the loader's lock is taken
  dl_iterate_phdr(
      [](dl_phdr_info*, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        for (link_map* map = s->first; map != nullptr && s->found == nullptr; map = map->l_next)
          if (s->visit(map)) s->found = map;
        return 1;
      },
      &search);
  return search.found;
}

// The object that holds an address, or null.
link_map* moduleAt(const void* address) {
  Dl_info info;
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return nullptr;
  return map;
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The system libraries whose functions the stand-in provides: their names
// stand for the stand-in's own library.
bool isSystemLibrary(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0) name.resize(name.size() - 4);
  for (const char* library : {"kernel32", "advapi32", "crypt32", "ole32", "oleaut32", "user32"})
    if (name == library) return true;
  return false;
}

link_map* platformModule() { return moduleAt(reinterpret_cast<const void*>(&GetModuleHandleW)); }

link_map* moduleNamed(const std::string& name) {
  bool wantPath = name.find('/') != std::string::npos;
  if (!wantPath && isSystemLibrary(name)) return platformModule();
  std::string wanted = name;
  if (wantPath) {
    char resolved[PATH_MAX];
    if (realpath(name.c_str(), resolved) != nullptr) wanted = resolved;
  }
  return findLoaded([&](link_map* map) {
    std::string path = modulePath(map);
    return wantPath ? path == wanted : baseName(path) == wanted;
  });
}

// Adds one reference to a loaded object, as LoadLibrary would.
void addReference(link_map* map, int extraFlags) {
  if (map == programModule()) return;
  void* again = dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD | extraFlags);
  require(again != nullptr, ERROR_MOD_NOT_FOUND);
}

std::string narrowName(LPCWSTR name) {
  require(name != nullptr);
  return toUtf8(name, wideLength(name));
}

}  // namespace

link_map* loadedModule(HMODULE module) {
  if (module == nullptr) return programModule();
  link_map* map = findLoaded([&](link_map* candidate) { return handleOf(candidate) == module; });
  require(map != nullptr, ERROR_INVALID_HANDLE);
  return map;
}

std::string modulePath(link_map* module) {
  char resolved[PATH_MAX];
  if (module == programModule() || module->l_name == nullptr || module->l_name[0] == 0) {
    ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    require(n > 0, ERROR_MOD_NOT_FOUND);
    return std::string(resolved, static_cast<size_t>(n));
  }
  if (realpath(module->l_name, resolved) != nullptr) return resolved;
  return module->l_name;
}

void* ownSymbol(link_map* module, const char* name) {
  // dlsym needs a handle from dlopen: a library loaded as a dependency has
  // no search scope of its own until it is opened.
  void* handle = dlopen(module == programModule() ? nullptr : module->l_name, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  void* symbol = dlsym(handle, name);
  dlclose(handle);
  // dlsym also searches the dependencies; Windows looks in the module's own
  // exports only.
  return symbol != nullptr && moduleAt(symbol) == module ? symbol : nullptr;
}

}  // namespace tv

using namespace tv;

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  return win32Value<HMODULE>(nullptr, [&] {
    std::string name = narrowName(lpLibFileName);
    require(!name.empty(), ERROR_MOD_NOT_FOUND);
    if (isSystemLibrary(name)) {
      link_map* platform = platformModule();
      addReference(platform, 0);
      return handleOf(platform);
    }
    // The loader would wait for ever on a FIFO named as a module.
    require(name.find('/') == std::string::npos || isRegularFile(name), ERROR_MOD_NOT_FOUND);
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    require(handle != nullptr, ERROR_MOD_NOT_FOUND);
    link_map* map = nullptr;
    dlinfo(handle, RTLD_DI_LINKMAP, &map);
    return handleOf(map);
  });
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  return win32Bool([&] {
    require(hLibModule != nullptr, ERROR_INVALID_HANDLE);
    link_map* map = loadedModule(hLibModule);
    if (map == programModule()) return;
    require(dlclose(map) == 0, ERROR_INVALID_HANDLE);
  });
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  return win32Value<FARPROC>(nullptr, [&] {
    link_map* map = loadedModule(hModule);
    // Exports by ordinal do not exist on this platform.
    require(lpProcName != nullptr && !IS_INTRESOURCE(lpProcName), ERROR_PROC_NOT_FOUND);
    void* symbol = ownSymbol(map, lpProcName);
    require(symbol != nullptr, ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
  });
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  return win32Value<HMODULE>(nullptr, [&] {
    if (lpModuleName == nullptr) return handleOf(programModule());
    link_map* map = moduleNamed(narrowName(lpModuleName));
    require(map != nullptr, ERROR_MOD_NOT_FOUND);
    return handleOf(map);
  });
}

BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
  return win32Bool([&] {
    require(phModule != nullptr);
    *phModule = nullptr;
    const DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    require((dwFlags & ~known) == 0);
    require(!((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) && (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)));
    link_map* map = nullptr;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
      map = moduleAt(lpModuleName);
    else
      map = lpModuleName == nullptr ? programModule() : moduleNamed(narrowName(lpModuleName));
    require(map != nullptr, ERROR_MOD_NOT_FOUND);
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN)
      addReference(map, RTLD_NODELETE);
    else if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))
      addReference(map, 0);
    *phModule = handleOf(map);
  });
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::u16string path;
  DWORD failed = win32Value<DWORD>(1, [&] {
    require(lpFilename != nullptr || nSize == 0);
    path = toUtf16(modulePath(loadedModule(hModule)));
    return 0;
  });
  if (failed) return 0;
  // A buffer too small gets the path cut short and terminated; the result
  // is then the buffer's size, with ERROR_INSUFFICIENT_BUFFER.
  if (path.size() < nSize) {
    std::memcpy(lpFilename, path.data(), path.size() * sizeof(WCHAR));
    lpFilename[path.size()] = 0;
    return static_cast<DWORD>(path.size());
  }
  if (nSize > 0) {
    std::memcpy(lpFilename, path.data(), (nSize - 1) * sizeof(WCHAR));
    lpFilename[nSize - 1] = 0;
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return nSize;
}
