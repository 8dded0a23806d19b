// The in-process server module: the lock count that decides when the library
// may be unloaded, the object map and its class factories, the module's own
// handle and file, and registration (per machine, or per user after
// DllInstall with "user").
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>

#include "tellvane/registrar.h"

namespace Tellvane {

class ClassFactory;

// One creatable class of the server.
struct ObjectEntry {
  const CLSID* clsid;
  UINT registryScript;  // its REGISTRY resource
  ClassFactory* factory;
};

class ServerModule {
 public:
  // One module per library; it stays where it is while the library is loaded.
  ServerModule(const GUID& libid, const GUID& appid, UINT registryScript, const ObjectEntry* objects, size_t count);
  ~ServerModule();
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  // The module of this library, for the objects and factories it serves.
  static ServerModule& current();

  LONG lock();
  LONG unlock();

  // The exports' work.
  HRESULT canUnloadNow() const;
  HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
  HRESULT registerServer();
  HRESULT unregisterServer();
  HRESULT install(BOOL doInstall, LPCWSTR commandLine);

  // The library's own handle and the full path of its file.
  static HMODULE handle();
  static WideString path();

 private:
  void registerAll();
  void unregisterAll();
  void runScript(UINT resource, bool registering) const;
  void registerTypeLibrary() const;
  void unregisterTypeLibrary() const;

  const GUID& libid_;
  const GUID& appid_;
  UINT registryScript_;
  const ObjectEntry* objects_;
  size_t count_;
  LONG volatile locks_ = 0;
  // Set by DllInstall with "user"; stays for the rest of the process.
  static bool perUser_;
};

inline void lockModule() { ServerModule::current().lock(); }
inline void unlockModule() { ServerModule::current().unlock(); }

}  // namespace Tellvane
