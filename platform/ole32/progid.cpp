// ProgIDs: HKCR\<ProgID>\CLSID, or the current version named by CurVer.
#include <objbase.h>

#include <cstring>

#include "internal/regkey.h"
#include "internal/nocase.h"
#include "ole32/comtext.h"
#include "internal/win32call.h"

namespace tv {

namespace {

// Following CurVer from one ProgID to another ends after a few steps, so
// that a loop in the registry cannot hang the caller.
constexpr int kMaxCurVerSteps = 8;

HRESULT clsidFromProgId(std::u16string progId, CLSID* out) {
  for (int step = 0; step <= kMaxCurVerSteps; ++step) {
    if (progId.empty()) break;
    if (const auto text = defaultValue(HKEY_CLASSES_ROOT, progId + u"\\CLSID")) {
      const std::optional<GUID> clsid = parseGuid(*text);
      if (!clsid) return CO_E_CLASSSTRING;
      *out = *clsid;
      return S_OK;
    }
    const auto current = defaultValue(HKEY_CLASSES_ROOT, progId + u"\\CurVer");
    if (!current || equalNoCase(*current, progId)) break;
    progId = *current;
  }
  return CO_E_CLASSSTRING;
}

}  // namespace

}  // namespace tv

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  *lpclsid = CLSID_NULL;
  return tv::comCall([&] { return tv::clsidFromProgId(lpszProgID, lpclsid); });
}

HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (lplpszProgID == nullptr) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  return tv::comCall([&] {
    const std::u16string key = u"CLSID\\" + tv::guidText(clsid);
    if (!tv::ComKey::open(HKEY_CLASSES_ROOT, key)) return REGDB_E_CLASSNOTREG;
    const auto progId = tv::defaultValue(HKEY_CLASSES_ROOT, key + u"\\ProgID");
    if (!progId || progId->empty()) return REGDB_E_CLASSNOTREG;
    const size_t bytes = (progId->size() + 1) * sizeof(OLECHAR);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::memcpy(copy, progId->c_str(), bytes);
    *lplpszProgID = copy;
    return S_OK;
  });
}
