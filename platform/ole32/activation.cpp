// COM initialisation and the creation of objects of in-process servers found
// through HKCR\CLSID\{clsid}\InprocServer32, with the process's cache of
// loaded servers that CoFreeUnusedLibraries trims.
#include <objbase.h>

#include <atomic>
#include <list>
#include <mutex>

#include "internal/regkey.h"
#include "ole32/comtext.h"
#include "internal/win32call.h"

namespace tv {

namespace {

// The calling thread's apartment: how often it initialised COM, and how.
struct Apartment {
  unsigned count = 0;
  bool multithreaded = false;
};
thread_local Apartment apartment;
std::atomic<int> initializedThreads{0};
std::atomic<int> multithreadedThreads{0};

struct Server {
  std::u16string path;
  HMODULE module;
  LPFNGETCLASSOBJECT getClassObject;
  LPFNCANUNLOADNOW canUnloadNow;  // may be null: such a server stays loaded
};

// Loaded servers, each held by one LoadLibraryW reference. The lock is
// recursive and the list keeps its elements in place, since a server may
// create objects of other servers while it is being asked for a factory.
std::recursive_mutex serversLock;
std::list<Server> servers;

void freeUnusedServers() {
  std::lock_guard<std::recursive_mutex> hold(serversLock);
  for (auto it = servers.begin(); it != servers.end();) {
    if (it->canUnloadNow != nullptr && it->canUnloadNow() == S_OK) {
      FreeLibrary(it->module);
      it = servers.erase(it);
    } else {
      ++it;
    }
  }
}

// An export as the function type it has (through void(*)(), the cast GCC
// accepts between function types).
template <class Function>
Function exported(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The cached server of that path, loaded on first use.
HRESULT loadServer(const std::u16string& path, Server** out) {
  for (Server& server : servers)
    if (server.path == path) {
      *out = &server;
      return S_OK;
    }
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    const DWORD error = GetLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : CO_E_DLLNOTFOUND;
  }
  auto getClassObject = exported<LPFNGETCLASSOBJECT>(module, "DllGetClassObject");
  if (getClassObject == nullptr) {
    FreeLibrary(module);
    return CO_E_ERRORINDLL;
  }
  auto canUnloadNow = exported<LPFNCANUNLOADNOW>(module, "DllCanUnloadNow");
  servers.push_back({path, module, getClassObject, canUnloadNow});
  *out = &servers.back();
  return S_OK;
}

HRESULT getClassObject(const CLSID& clsid, DWORD context, const IID& iid, void** out) {
  if (apartment.count == 0 && multithreadedThreads == 0) return CO_E_NOTINITIALIZED;
  // Only in-process servers are served; a class without one is not
  // registered for the requested context.
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  const std::u16string classKey = u"CLSID\\" + guidText(clsid);
  if (!ComKey::open(HKEY_CLASSES_ROOT, classKey)) return REGDB_E_CLASSNOTREG;
  const std::optional<std::u16string> path = defaultValue(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32");
  if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
  std::lock_guard<std::recursive_mutex> hold(serversLock);
  Server* server = nullptr;
  const HRESULT hr = loadServer(*path, &server);
  if (FAILED(hr)) return hr;
  return server->getClassObject(clsid, iid, out);
}

}  // namespace

}  // namespace tv

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  if (pvReserved != nullptr) return E_INVALIDARG;
  const bool multithreaded = !(dwCoInit & COINIT_APARTMENTTHREADED);
  tv::Apartment& apartment = tv::apartment;
  if (apartment.count > 0) {
    if (apartment.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++apartment.count;
    return S_FALSE;
  }
  apartment.count = 1;
  apartment.multithreaded = multithreaded;
  ++tv::initializedThreads;
  if (multithreaded) ++tv::multithreadedThreads;
  return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void WINAPI CoUninitialize(void) {
  tv::Apartment& apartment = tv::apartment;
  if (apartment.count == 0 || --apartment.count > 0) return;
  if (apartment.multithreaded) --tv::multithreadedThreads;
  // When the last apartment of the process closes, the servers that allow
  // it are unloaded.
  if (--tv::initializedThreads == 0) tv::freeUnusedServers();
}

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv) {
  (void)pvReserved;  // server information of remote activation
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  return tv::comCall([&] { return tv::getClassObject(rclsid, dwClsContext, riid, ppv); });
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  void* object = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, &object);
  if (FAILED(hr)) return hr;
  auto* factory = static_cast<IClassFactory*>(object);
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

void WINAPI CoFreeUnusedLibraries(void) { tv::freeUnusedServers(); }
