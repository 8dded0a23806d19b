#include "tellvane/servermodule.h"

#include <oleauto.h>

#include <memory>
#include <new>
#include <vector>

#include "common/wide.h"
#include "tellvane/classfactory.h"

namespace Tellvane {

namespace {

ServerModule* currentModule = nullptr;

// Any address inside this library tells the platform which module it is.
const char kSelf = 0;

// A failed step of registration and its code.
struct Failure {
  HRESULT code;
};

void check(HRESULT hr) {
  if (FAILED(hr)) throw Failure{hr};
}

HRESULT lastErrorResult() {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

struct Releaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
using TypeLibPtr = std::unique_ptr<ITypeLib, Releaser>;
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)>;

// Registration runs with the thread's locale set to the system's, and puts
// back the caller's whichever way it ends.
class SystemLocaleScope {
 public:
  SystemLocaleScope() : previous_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
  ~SystemLocaleScope() { SetThreadLocale(previous_); }
  SystemLocaleScope(const SystemLocaleScope&) = delete;
  SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

 private:
  LCID previous_;
};

// For a per-user registration, the classes root of this process is the
// user's classes (HKCU\Software\Classes) while the object lives.
class UserClassesScope {
 public:
  explicit UserClassesScope(bool active) : key_(nullptr, &RegCloseKey) {
    if (!active) return;
    HKEY classes = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, WSTR("Software\\Classes"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &classes, nullptr);
    if (status != ERROR_SUCCESS) throw Failure{HRESULT_FROM_WIN32(status)};
    key_.reset(classes);
    status = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
    if (status != ERROR_SUCCESS) throw Failure{HRESULT_FROM_WIN32(status)};
  }
  ~UserClassesScope() {
    if (key_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  }
  UserClassesScope(const UserClassesScope&) = delete;
  UserClassesScope& operator=(const UserClassesScope&) = delete;

 private:
  KeyHandle key_;
};

// Runs a registration step with the locale and classes root it needs; a
// failed step's code is the result.
template <class Body>
HRESULT registrationStep(bool perUser, Body body) noexcept {
  try {
    SystemLocaleScope locale;
    UserClassesScope classes(perUser);
    body();
    return S_OK;
  } catch (const Failure& failure) {
    return failure.code;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

WideString guidText(const GUID& guid) {
  WCHAR text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

// Inside a quoted script token a quote is written twice.
WideString quotedForScript(const WideString& text) {
  WideString out;
  for (WCHAR c : text) {
    out += c;
    if (c == '\'') out += c;
  }
  return out;
}

WideString resourceText(HMODULE module, UINT id) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), WSTR("REGISTRY"));
  if (found == nullptr) throw Failure{lastErrorResult()};
  HGLOBAL loaded = LoadResource(module, found);
  const char* bytes = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr) throw Failure{lastErrorResult()};
  const int size = static_cast<int>(SizeofResource(module, found));
  if (size == 0) return WideString();
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes, size, nullptr, 0);
  if (length <= 0) throw Failure{lastErrorResult()};
  WideString text(static_cast<size_t>(length), 0);
  MultiByteToWideChar(CP_ACP, 0, bytes, size, &text[0], length);
  return text;
}

TypeLibPtr loadTypeLibrary(const WideString& file) {
  ITypeLib* library = nullptr;
  check(LoadTypeLib(file.c_str(), &library));
  return TypeLibPtr(library);
}

// A function of the automation library that older systems lack, or null.
template <class Function>
Function automationFunction(const char* name) {
  HMODULE automation = GetModuleHandleW(WSTR("OLEAUT32.DLL"));
  if (automation == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(automation, name)));
}

using RegisterForUser = HRESULT(WINAPI*)(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
using UnregisterForUser = HRESULT(WINAPI*)(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid,
                                           SYSKIND syskind);

// "user" and its terminating zero, five wide characters compared without
// regard to letter case.
bool isUserSwitch(LPCWSTR commandLine) {
  static const char kUser[] = "user";
  for (size_t i = 0; i < sizeof kUser; ++i) {
    WCHAR c = commandLine[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
    if (c != static_cast<WCHAR>(kUser[i])) return false;
  }
  return true;
}

}  // namespace

bool ServerModule::perUser_ = false;

ServerModule::ServerModule(const GUID& libid, const GUID& appid, UINT registryScript, const ObjectEntry* objects,
                           size_t count)
    : libid_(libid), appid_(appid), registryScript_(registryScript), objects_(objects), count_(count) {
  currentModule = this;
}

ServerModule::~ServerModule() { currentModule = nullptr; }

ServerModule& ServerModule::current() { return *currentModule; }

LONG ServerModule::lock() { return InterlockedIncrement(&locks_); }

LONG ServerModule::unlock() { return InterlockedDecrement(&locks_); }

HRESULT ServerModule::canUnloadNow() const { return locks_ == 0 ? S_OK : S_FALSE; }

HRESULT ServerModule::getClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  for (size_t i = 0; i < count_; ++i)
    if (IsEqualGUID(rclsid, *objects_[i].clsid)) return objects_[i].factory->QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerModule::registerServer() {
  return registrationStep(perUser_, [this] { registerAll(); });
}

HRESULT ServerModule::unregisterServer() {
  return registrationStep(perUser_, [this] { unregisterAll(); });
}

HRESULT ServerModule::install(BOOL doInstall, LPCWSTR commandLine) {
  if (commandLine != nullptr && isUserSwitch(commandLine)) perUser_ = true;
  if (!doInstall) return unregisterServer();
  const HRESULT hr = registerServer();
  if (FAILED(hr)) unregisterServer();  // undo what was written; the registration's failure is the answer
  return hr;
}

HMODULE ServerModule::handle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&kSelf), &module);
  return module;
}

WideString ServerModule::path() {
  std::vector<WCHAR> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(handle(), buffer.data(), size);
    if (length == 0) throw Failure{lastErrorResult()};
    if (length < size) return WideString(buffer.data(), length);
    if (size >= 32768) throw Failure{HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)};
    buffer.resize(buffer.size() * 2);
  }
}

void ServerModule::registerAll() {
  runScript(registryScript_, true);
  for (size_t i = 0; i < count_; ++i) runScript(objects_[i].registryScript, true);
  registerTypeLibrary();
}

void ServerModule::unregisterAll() {
  for (size_t i = 0; i < count_; ++i) runScript(objects_[i].registryScript, false);
  unregisterTypeLibrary();
  runScript(registryScript_, false);
}

void ServerModule::runScript(UINT resource, bool registering) const {
  const WideString file = path();
  const Replacements replacements = {
      {WSTR("MODULE"), quotedForScript(file)},
      {WSTR("MODULE_RAW"), file},
      {WSTR("APPID"), guidText(appid_)},
  };
  check(runRegistryScript(resourceText(handle(), resource), replacements, registering));
}

void ServerModule::registerTypeLibrary() const {
  WideString file = path();
  const TypeLibPtr library = loadTypeLibrary(file);
  if (perUser_)
    if (auto registerForUser = automationFunction<RegisterForUser>("RegisterTypeLibForUser")) {
      check(registerForUser(library.get(), &file[0], nullptr));
      return;
    }
  check(RegisterTypeLib(library.get(), &file[0], nullptr));
}

void ServerModule::unregisterTypeLibrary() const {
  const TypeLibPtr library = loadTypeLibrary(path());
  TLIBATTR* attributes = nullptr;
  check(library->GetLibAttr(&attributes));
  const TLIBATTR registered = *attributes;
  library->ReleaseTLibAttr(attributes);
  if (perUser_)
    if (auto unregisterForUser = automationFunction<UnregisterForUser>("UnRegisterTypeLibForUser")) {
      check(unregisterForUser(libid_, registered.wMajorVerNum, registered.wMinorVerNum, registered.lcid,
                              registered.syskind));
      return;
    }
  check(
      UnRegisterTypeLib(libid_, registered.wMajorVerNum, registered.wMinorVerNum, registered.lcid, registered.syskind));
}

}  // namespace Tellvane
