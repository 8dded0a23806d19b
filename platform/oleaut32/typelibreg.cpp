// Type library registration: the TypeLib and Interface keys under the
// classes root (machine-wide) or HKCU\Software\Classes (for the user), and
// the lookup of a registered library's path.
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <memory>

#include "internal/regkey.h"
#include "internal/utf.h"
#include "internal/win32call.h"
#include "internal/nocase.h"

namespace tv {

namespace {

// Where a registration goes: the merged classes root, or the user's classes.
struct ClassesRoot {
  HKEY key;
  std::u16string prefix;
  std::u16string operator()(const std::u16string& path) const { return prefix + path; }
};
const ClassesRoot kClassesRoot{HKEY_CLASSES_ROOT, u""};
const ClassesRoot kUserClasses{HKEY_CURRENT_USER, u"Software\\Classes\\"};

// The proxy/stub classes of automation interfaces: the universal marshaler
// for dual and oleautomation interfaces, the dispinterface one otherwise.
constexpr char16_t kOleAutomationProxy[] = u"{00020424-0000-0000-C000-000000000046}";
constexpr char16_t kDispatchProxy[] = u"{00020420-0000-0000-C000-000000000046}";

std::u16string hex(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", value);
  return toUtf16(buffer);
}

// The braced form the registry keys use, made by ole32.
std::u16string guidText(const GUID& guid) {
  char16_t text[39];
  if (StringFromGUID2(guid, text, 39) != 39) fail(ERROR_INVALID_PARAMETER);
  return std::u16string(text, 38);
}

std::u16string versionText(unsigned major, unsigned minor) { return hex(major) + u"." + hex(minor); }

std::u16string syskindName(SYSKIND syskind) {
  switch (syskind) {
    case SYS_WIN16: return u"win16";
    case SYS_WIN64: return u"win64";
    case SYS_MAC: return u"mac";
    default: return u"win32";
  }
}

std::u16string libraryKey(const GUID& libid, unsigned major, unsigned minor) {
  return u"TypeLib\\" + guidText(libid) + u"\\" + versionText(major, minor);
}

// The folder of a registered path: a trailing "\<resource number>" goes
// first, then the file name.
std::u16string folderOf(std::u16string path) {
  const size_t slash = path.find_last_of(u'\\');
  if (slash != std::u16string::npos && slash + 1 < path.size() &&
      path.find_first_not_of(u"0123456789", slash + 1) == std::u16string::npos)
    path.resize(slash);
  const size_t separator = path.find_last_of(u"\\/");
  return separator == std::u16string::npos ? u"" : path.substr(0, separator);
}

struct Bstr {
  BSTR text = nullptr;
  ~Bstr() { SysFreeString(text); }
  std::u16string value() const { return text != nullptr ? std::u16string(text, SysStringLen(text)) : u""; }
};

void check(LSTATUS status) {
  if (status != ERROR_SUCCESS) fail(static_cast<DWORD>(E_FAIL));
}

void setKey(const ClassesRoot& root, const std::u16string& path, const std::u16string& value) {
  std::optional<ComKey> key;
  check(ComKey::create(root.key, root(path), key));
  check(key->setText(nullptr, value));
}

// An interface that marshals through automation gets Interface\{IID}.
void registerInterface(const ClassesRoot& root, ITypeInfo* info, const std::u16string& libid,
                       const std::u16string& version) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return;
  const TYPEKIND kind = attr->typekind;
  const WORD flags = attr->wTypeFlags;
  const GUID iid = attr->guid;
  info->ReleaseTypeAttr(attr);
  if (kind != TKIND_DISPATCH && !(kind == TKIND_INTERFACE && (flags & TYPEFLAG_FOLEAUTOMATION))) return;
  Bstr name;
  info->GetDocumentation(MEMBERID_NIL, &name.text, nullptr, nullptr, nullptr);
  const std::u16string key = u"Interface\\" + guidText(iid);
  const std::u16string proxy =
      kind == TKIND_DISPATCH && !(flags & TYPEFLAG_FDUAL) ? kDispatchProxy : kOleAutomationProxy;
  setKey(root, key, name.value());
  setKey(root, key + u"\\ProxyStubClsid", proxy);
  setKey(root, key + u"\\ProxyStubClsid32", proxy);
  std::optional<ComKey> typelib;
  check(ComKey::create(root.key, root(key + u"\\TypeLib"), typelib));
  check(typelib->setText(nullptr, libid));
  check(typelib->setText(u"Version", version));
}

HRESULT registerTypeLib(const ClassesRoot& root, ITypeLib* lib, const std::u16string& fullPath,
                        const OLECHAR* helpDir) {
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const TLIBATTR libAttr = *attr;
  lib->ReleaseTLibAttr(attr);
  Bstr name, doc;
  hr = lib->GetDocumentation(-1, &name.text, &doc.text, nullptr, nullptr);
  if (FAILED(hr)) return hr;

  const std::u16string key = libraryKey(libAttr.guid, libAttr.wMajorVerNum, libAttr.wMinorVerNum);
  setKey(root, key, doc.value().empty() ? name.value() : doc.value());
  setKey(root, key + u"\\" + hex(libAttr.lcid) + u"\\" + syskindName(libAttr.syskind), fullPath);
  setKey(root, key + u"\\FLAGS", toUtf16(std::to_string(libAttr.wLibFlags)));
  std::optional<ComKey> help;
  bool created = false;
  check(ComKey::create(root.key, root(key + u"\\HELPDIR"), help, &created));
  if (helpDir != nullptr)
    check(help->setText(nullptr, helpDir));
  else if (created)
    check(help->setText(nullptr, folderOf(fullPath)));

  const std::u16string libid = guidText(libAttr.guid);
  const std::u16string version = versionText(libAttr.wMajorVerNum, libAttr.wMinorVerNum);
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(lib->GetTypeInfo(i, &info))) continue;
    std::unique_ptr<ITypeInfo, void (*)(ITypeInfo*)> hold(info, [](ITypeInfo* p) { p->Release(); });
    registerInterface(root, info, libid, version);
  }
  return S_OK;
}

void unregisterInterfaces(const ClassesRoot& root, ITypeLib* lib) {
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(lib->GetTypeInfo(i, &info))) continue;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
      const bool registered = attr->typekind == TKIND_DISPATCH ||
                              (attr->typekind == TKIND_INTERFACE && (attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION));
      const std::u16string key = root(u"Interface\\" + guidText(attr->guid));
      info->ReleaseTypeAttr(attr);
      if (registered) {
        if (std::optional<ComKey> open = ComKey::open(root.key, key, KEY_WRITE)) {
          for (const char16_t* sub : {u"ProxyStubClsid", u"ProxyStubClsid32", u"TypeLib"})
            RegDeleteKeyW(open->get(), sub);
        }
        RegDeleteKeyW(root.key, key.c_str());  // kept when it holds keys of others
      }
    }
    info->Release();
  }
}

HRESULT unregisterTypeLib(const ClassesRoot& root, const GUID& libid, WORD major, WORD minor, LCID lcid,
                          SYSKIND syskind) {
  const std::u16string key = libraryKey(libid, major, minor);
  const std::u16string lcidKey = hex(lcid);
  const std::u16string pathKey = lcidKey + u"\\" + syskindName(syskind);
  const std::optional<std::u16string> path = defaultValue(root.key, root(key + u"\\" + pathKey));
  std::optional<ComKey> version = ComKey::open(root.key, root(key), KEY_READ | KEY_WRITE);
  if (!path || !version) return TYPE_E_REGISTRYACCESS;

  // The library itself says which interface keys are its own.
  ITypeLib* lib = nullptr;
  const HRESULT loaded = LoadTypeLib(path->c_str(), &lib);
  if (FAILED(loaded)) return loaded;
  unregisterInterfaces(root, lib);
  lib->Release();

  RegDeleteKeyW(version->get(), pathKey.c_str());
  RegDeleteKeyW(version->get(), lcidKey.c_str());
  // FLAGS and HELPDIR go with the version key only when nothing else is left.
  for (const std::u16string& sub : version->subkeys())
    if (!equalNoCase(sub, u"FLAGS") && !equalNoCase(sub, u"HELPDIR")) return S_OK;
  RegDeleteKeyW(version->get(), u"FLAGS");
  RegDeleteKeyW(version->get(), u"HELPDIR");
  version.reset();
  RegDeleteKeyW(root.key, root(key).c_str());
  RegDeleteKeyW(root.key, root(u"TypeLib\\" + guidText(libid)).c_str());
  return S_OK;
}

// The best registered version: the same major version and the highest minor
// one not below the requested.
std::optional<std::u16string> findVersion(const ComKey& library, WORD major, WORD minor) {
  std::optional<std::u16string> best;
  long bestMinor = -1;
  for (const std::u16string& name : library.subkeys()) {
    unsigned keyMajor = 0, keyMinor = 0;
    char tail = 0;
    if (std::sscanf(toUtf8(name).c_str(), "%x.%x%c", &keyMajor, &keyMinor, &tail) != 2) continue;
    if (keyMajor != major || keyMinor < minor || static_cast<long>(keyMinor) <= bestMinor) continue;
    best = name;
    bestMinor = keyMinor;
  }
  return best;
}

HRESULT queryPath(const GUID& libid, WORD major, WORD minor, LCID lcid, std::u16string& path) {
  const std::optional<ComKey> library = ComKey::open(HKEY_CLASSES_ROOT, u"TypeLib\\" + guidText(libid));
  if (!library) return TYPE_E_LIBNOTREGISTERED;
  const std::optional<std::u16string> version = findVersion(*library, major, minor);
  if (!version) return TYPE_E_LIBNOTREGISTERED;
  // The locale itself, then its primary language, then the neutral one; the
  // native system kind before the 32-bit one.
  const LCID candidates[] = {lcid, lcid & 0x3FF, 0};
  for (LCID candidate : candidates)
    for (SYSKIND syskind : {sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, SYS_WIN32}) {
      const std::u16string key = *version + u"\\" + hex(candidate) + u"\\" + syskindName(syskind);
      if (const std::optional<ComKey> at = ComKey::open(library->get(), key)) {
        if (std::optional<std::u16string> value = at->text()) {
          path = *value;
          return S_OK;
        }
      }
    }
  return TYPE_E_LIBNOTREGISTERED;
}

}  // namespace

}  // namespace tv

HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
  if (ptlib == nullptr || szFullPath == nullptr) return E_INVALIDARG;
  return tv::comCall([&] { return tv::registerTypeLib(tv::kClassesRoot, ptlib, szFullPath, szHelpDir); });
}

HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir) {
  if (ptlib == nullptr || szFullPath == nullptr) return E_INVALIDARG;
  return tv::comCall([&] { return tv::registerTypeLib(tv::kUserClasses, ptlib, szFullPath, szHelpDir); });
}

HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind) {
  return tv::comCall(
      [&] { return tv::unregisterTypeLib(tv::kClassesRoot, libID, wVerMajor, wVerMinor, lcid, syskind); });
}

HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid,
                                        SYSKIND syskind) {
  return tv::comCall(
      [&] { return tv::unregisterTypeLib(tv::kUserClasses, libID, wMajorVerNum, wMinorVerNum, lcid, syskind); });
}

HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, LPBSTR lpbstrPathName) {
  if (lpbstrPathName == nullptr) return E_INVALIDARG;
  *lpbstrPathName = nullptr;
  return tv::comCall([&] {
    std::u16string path;
    const HRESULT hr = tv::queryPath(guid, wMaj, wMin, lcid, path);
    if (FAILED(hr)) return hr;
    *lpbstrPathName = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    return *lpbstrPathName != nullptr ? S_OK : E_OUTOFMEMORY;
  });
}
