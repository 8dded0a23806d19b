// Type libraries in the stand-in's compact form: LoadTypeLib (a module's
// TYPELIB resource, or a file of the compact form), LoadRegTypeLib, and the
// ITypeLib and ITypeInfo objects over the loaded description.
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "internal/descriptor.h"
#include "internal/nocase.h"
#include "internal/regularfile.h"
#include "internal/utf.h"
#include "oleaut32/typeinfo.h"
#include "oleaut32/typelibdata.h"
#include "internal/win32call.h"

namespace tv {

namespace {

using typelib::Function;
using typelib::Library;
using typelib::Param;
using typelib::Type;
using typelib::TypeRef;

// A reference to IUnknown or IDispatch, which live in the standard OLE
// library rather than in this one.
constexpr HREFTYPE kStandardBase = 0xFFFF0000;

GUID toGuid(const typelib::Guid& g) {
  GUID out;
  out.Data1 = g.data1, out.Data2 = g.data2, out.Data3 = g.data3;
  std::memcpy(out.Data4, g.data4, 8);
  return out;
}

BSTR allocBstr(const std::string& utf8) {
  const std::u16string text = toUtf16(utf8);
  BSTR out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (out == nullptr) throw std::bad_alloc();
  return out;
}

// Sets an optional BSTR out parameter.
void setText(BSTR* out, const std::string& utf8) {
  if (out != nullptr) *out = allocBstr(utf8);
}

HRESULT noInterface(void** out) {
  if (out != nullptr) *out = nullptr;
  return E_NOINTERFACE;
}

class TypeLibrary;

// One view of a type description. A dual interface has two: the dispatch
// view (TKIND_DISPATCH), which the library lists, and the interface view
// (TKIND_INTERFACE) reached from it through GetRefTypeOfImplType(-1).
class TypeDescription final : public ITypeInfo {
 public:
  TypeDescription(TypeLibrary& owner, size_t index, bool interfaceView)
      : owner_(owner), index_(index), interfaceView_(interfaceView) {}

  const Type& type() const;
  TYPEKIND kind() const {
    const Type& t = type();
    if (t.kind == TKIND_INTERFACE && (t.flags & TYPEFLAG_FDUAL) && !interfaceView_) return TKIND_DISPATCH;
    return static_cast<TYPEKIND>(t.kind);
  }
  bool dispatchView() const { return kind() == TKIND_DISPATCH; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_ITypeInfo) return noInterface(ppv);
    *ppv = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override {
    if (ppTComp != nullptr) *ppTComp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** ppVarDesc) override {
    if (ppVarDesc == nullptr) return E_INVALIDARG;
    *ppVarDesc = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
  HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) override {
    if (ppv != nullptr) *ppv = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) override {
    if (ppvObj == nullptr) return E_INVALIDARG;
    *ppvObj = nullptr;
    if (kind() != TKIND_COCLASS) return E_NOTIMPL;
    return CoCreateInstance(toGuid(type().guid), pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
  }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* pBstrMops) override {
    if (pBstrMops == nullptr) return E_INVALIDARG;
    *pBstrMops = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override { delete pTypeAttr; }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override { std::free(pFuncDesc); }
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

 private:
  // The members this view lists: the interface's own methods.
  const std::vector<Function>& functions() const { return type().functions; }
  const Function* findMember(MEMBERID memid) const;
  HREFTYPE referenceTo(const std::string& name) const;
  FUNCDESC* describe(const Function& f, size_t slot) const;
  // Parameters as this view shows them: the dispatch view of a dual
  // interface hides the [retval] parameter, which becomes the result.
  bool hidesRetval(const Function& f) const {
    return dispatchView() && !f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL);
  }

  TypeLibrary& owner_;
  size_t index_;
  bool interfaceView_;
};

class TypeLibrary final : public ITypeLib {
 public:
  explicit TypeLibrary(Library data) : data_(std::move(data)) {
    for (size_t i = 0; i < data_.types.size(); ++i) {
      views_.push_back(std::make_unique<TypeDescription>(*this, i, false));
      const Type& t = data_.types[i];
      interfaceViews_.push_back(t.kind == TKIND_INTERFACE && (t.flags & TYPEFLAG_FDUAL)
                                    ? std::make_unique<TypeDescription>(*this, i, true)
                                    : nullptr);
    }
  }

  const Library& data() const { return data_; }
  TypeDescription* view(size_t index, bool interfaceView) const {
    if (index >= views_.size()) return nullptr;
    return interfaceView && interfaceViews_[index] ? interfaceViews_[index].get() : views_[index].get();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_ITypeLib) return noInterface(ppv);
    *ppv = static_cast<ITypeLib*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return static_cast<UINT>(views_.size()); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
    if (ppTInfo == nullptr) return E_INVALIDARG;
    *ppTInfo = view(index, false);
    if (*ppTInfo == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    (*ppTInfo)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
    if (pTKind == nullptr) return E_INVALIDARG;
    if (index >= views_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = views_[index]->kind();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
    if (ppTinfo == nullptr) return E_INVALIDARG;
    *ppTinfo = nullptr;
    for (size_t i = 0; i < data_.types.size(); ++i)
      if (toGuid(data_.types[i].guid) == guid) return GetTypeInfo(static_cast<UINT>(i), ppTinfo);
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override {
    if (ppTLibAttr == nullptr) return E_INVALIDARG;
    *ppTLibAttr = new (std::nothrow) TLIBATTR{toGuid(data_.guid), data_.lcid, static_cast<SYSKIND>(data_.syskind),
                                              data_.major, data_.minor, data_.flags};
    return *ppTLibAttr != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override {
    if (ppTComp != nullptr) *ppTComp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override {
    if (index < -1 || index >= static_cast<INT>(views_.size())) return TYPE_E_ELEMENTNOTFOUND;
    if (index >= 0) return views_[index]->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString,
                                                          pdwHelpContext, pBstrHelpFile);
    return comCall([&] {
      setText(pBstrName, data_.name);
      setText(pBstrDocString, data_.help);
      if (pdwHelpContext != nullptr) *pdwHelpContext = 0;
      if (pBstrHelpFile != nullptr) *pBstrHelpFile = nullptr;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) override {
    if (szNameBuf == nullptr || pfName == nullptr) return E_INVALIDARG;
    *pfName = FALSE;
    const std::u16string wanted(szNameBuf);
    for (const Type& t : data_.types) {
      std::vector<const std::string*> names{&t.name};
      for (const Function& f : t.functions) {
        names.push_back(&f.name);
        for (const Param& p : f.params) names.push_back(&p.name);
      }
      for (const std::string* name : names) {
        const std::u16string candidate = toUtf16(*name);
        if (!equalNoCase(candidate, wanted)) continue;
        // As Windows does, the caller's buffer receives the stored spelling.
        std::copy(candidate.begin(), candidate.end(), szNameBuf);
        *pfName = TRUE;
        return S_OK;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                     USHORT* pcFound) override {
    if (szNameBuf == nullptr || ppTInfo == nullptr || rgMemId == nullptr || pcFound == nullptr)
      return E_INVALIDARG;
    const std::u16string wanted(szNameBuf);
    USHORT found = 0;
    for (size_t i = 0; i < views_.size() && found < *pcFound; ++i) {
      const Type& t = data_.types[i];
      std::optional<MEMBERID> id;
      if (equalNoCase(toUtf16(t.name), wanted)) id = MEMBERID_NIL;
      for (const Function& f : t.functions)
        if (!id && equalNoCase(toUtf16(f.name), wanted)) id = f.id;
      if (!id) continue;
      ppTInfo[found] = views_[i].get();
      ppTInfo[found]->AddRef();
      rgMemId[found++] = *id;
    }
    *pcFound = found;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override { delete pTLibAttr; }

 private:
  ~TypeLibrary() = default;

  Library data_;
  std::vector<std::unique_ptr<TypeDescription>> views_;
  std::vector<std::unique_ptr<TypeDescription>> interfaceViews_;
  std::atomic<ULONG> references_{1};
};

// The type descriptions share their library's reference count: a type info
// keeps its library alive, and the library owns its type infos.
const Type& TypeDescription::type() const { return owner_.data().types[index_]; }
ULONG TypeDescription::AddRef() { return owner_.AddRef(); }
ULONG TypeDescription::Release() { return owner_.Release(); }

HRESULT TypeDescription::GetTypeAttr(TYPEATTR** ppTypeAttr) {
  if (ppTypeAttr == nullptr) return E_INVALIDARG;
  const Type& t = type();
  auto* attr = new (std::nothrow) TYPEATTR{};
  if (attr == nullptr) return E_OUTOFMEMORY;
  attr->guid = toGuid(t.guid);
  attr->lcid = owner_.data().lcid;
  attr->memidConstructor = MEMBERID_NIL;
  attr->memidDestructor = MEMBERID_NIL;
  attr->cbSizeInstance = sizeof(void*);
  attr->typekind = kind();
  attr->cbAlignment = sizeof(void*);
  attr->wTypeFlags = static_cast<WORD>(t.flags | (dispatchView() ? TYPEFLAG_FDISPATCHABLE : 0));
  attr->wMajorVerNum = t.major;
  attr->wMinorVerNum = t.minor;
  if (t.kind == TKIND_COCLASS) {
    attr->cImplTypes = static_cast<WORD>(t.implemented.size());
  } else {
    attr->cFuncs = static_cast<WORD>(t.functions.size());
    attr->cImplTypes = 1;
    const std::vector<Member> members = interfaceMembers(owner_.data(), t);
    const size_t baseSlots = t.base == "IDispatch" ? 7 : 3;
    const size_t slots = dispatchView() ? 7 : members.empty() ? baseSlots : members.back().slot + 1;
    attr->cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
  }
  *ppTypeAttr = attr;
  return S_OK;
}

HREFTYPE TypeDescription::referenceTo(const std::string& name) const {
  const Library& lib = owner_.data();
  for (size_t i = 0; i < lib.types.size(); ++i)
    if (lib.types[i].name == name) return static_cast<HREFTYPE>(i * 2);
  return kStandardBase;
}

// A FUNCDESC in one block of memory (ReleaseFuncDesc frees it whole): the
// description, its parameters' ELEMDESCs, then the TYPEDESCs that pointer
// types point to.
FUNCDESC* TypeDescription::describe(const Function& f, size_t slot) const {
  const bool hide = hidesRetval(f);
  const size_t shown = f.params.size() - (hide ? 1 : 0);
  size_t nodes = f.result.pointers;
  for (const Param& p : f.params) nodes += p.type.pointers;
  const size_t bytes = sizeof(FUNCDESC) + shown * sizeof(ELEMDESC) + nodes * sizeof(TYPEDESC);
  auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
  if (block == nullptr) throw std::bad_alloc();
  auto* desc = reinterpret_cast<FUNCDESC*>(block);
  auto* params = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
  auto* node = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + shown * sizeof(ELEMDESC));
  auto fill = [&](TYPEDESC& out, const TypeRef& ref, int skipPointers) {
    TYPEDESC* at = &out;
    for (int i = skipPointers; i < ref.pointers; ++i) {
      at->vt = VT_PTR;
      at->lptdesc = node;
      at = node++;
    }
    at->vt = ref.vt;
    if (ref.vt == VT_USERDEFINED) at->hreftype = referenceTo(ref.userType);
  };
  desc->memid = f.id;
  desc->lprgelemdescParam = shown != 0 ? params : nullptr;
  desc->funckind = dispatchView() ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
  desc->invkind = static_cast<INVOKEKIND>(f.invokeKind);
  desc->callconv = CC_STDCALL;
  desc->cParams = static_cast<SHORT>(shown);
  desc->oVft = static_cast<SHORT>(slot * sizeof(void*));
  desc->wFuncFlags = f.flags;
  for (size_t i = 0; i < shown; ++i) {
    fill(params[i].tdesc, f.params[i].type, 0);
    params[i].paramdesc.wParamFlags = f.params[i].flags;
    if (f.params[i].flags & PARAMFLAG_FOPT) ++desc->cParamsOpt;
  }
  if (hide)
    fill(desc->elemdescFunc.tdesc, f.params.back().type, 1);
  else if (dispatchView() && f.result.vt == VT_HRESULT)
    desc->elemdescFunc.tdesc.vt = VT_VOID;
  else
    fill(desc->elemdescFunc.tdesc, f.result, 0);
  return desc;
}

HRESULT TypeDescription::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
  if (ppFuncDesc == nullptr) return E_INVALIDARG;
  *ppFuncDesc = nullptr;
  if (index >= functions().size()) return TYPE_E_ELEMENTNOTFOUND;
  const std::vector<Member> members = interfaceMembers(owner_.data(), type());
  const Member& member = members[members.size() - functions().size() + index];
  return comCall([&] {
    *ppFuncDesc = describe(*member.function, member.slot);
    return S_OK;
  });
}

const Function* TypeDescription::findMember(MEMBERID memid) const {
  for (const Member& m : interfaceMembers(owner_.data(), type()))
    if (m.function->id == memid) return m.function;
  return nullptr;
}

HRESULT TypeDescription::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
  if (rgBstrNames == nullptr || pcNames == nullptr) return E_INVALIDARG;
  *pcNames = 0;
  const Function* f = findMember(memid);
  if (f == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  std::vector<std::string> names{f->name};
  for (size_t i = 0; i < f->params.size() - (hidesRetval(*f) ? 1 : 0); ++i) names.push_back(f->params[i].name);
  return comCall([&] {
    for (; *pcNames < cMaxNames && *pcNames < names.size(); ++*pcNames)
      rgBstrNames[*pcNames] = allocBstr(names[*pcNames]);
    return S_OK;
  });
}

HRESULT TypeDescription::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
  if (pRefType == nullptr) return E_INVALIDARG;
  const Type& t = type();
  if (t.kind == TKIND_COCLASS) {
    if (index >= t.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = referenceTo(t.implemented[index].name);
    return S_OK;
  }
  // -1 on the dispatch view of a dual interface: its interface view.
  if (index == static_cast<UINT>(-1) && dispatchView()) {
    *pRefType = static_cast<HREFTYPE>(index_ * 2 + 1);
    return S_OK;
  }
  if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
  *pRefType = dispatchView() ? kStandardBase : referenceTo(t.base);
  return S_OK;
}

HRESULT TypeDescription::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
  if (pImplTypeFlags == nullptr) return E_INVALIDARG;
  const Type& t = type();
  if (t.kind == TKIND_COCLASS) {
    if (index >= t.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = t.implemented[index].flags;
    return S_OK;
  }
  if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
  *pImplTypeFlags = 0;
  return S_OK;
}

HRESULT TypeDescription::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  // IUnknown and IDispatch belong to the standard OLE library, which the
  // stand-in does not carry.
  if (hRefType == kStandardBase) return TYPE_E_CANTLOADLIBRARY;
  TypeDescription* target = owner_.view(hRefType / 2, (hRefType & 1) != 0);
  if (target == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  target->AddRef();
  *ppTInfo = target;
  return S_OK;
}

HRESULT TypeDescription::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
  if (rgszNames == nullptr || pMemId == nullptr) return E_INVALIDARG;
  if (cNames == 0) return S_OK;
  for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
  if (rgszNames[0] == nullptr) return E_INVALIDARG;
  const std::u16string member(rgszNames[0]);
  const Function* f = nullptr;
  for (const Member& m : interfaceMembers(owner_.data(), type()))
    if (equalNoCase(toUtf16(m.function->name), member)) {
      f = m.function;
      break;
    }
  if (f == nullptr) return DISP_E_UNKNOWNNAME;
  pMemId[0] = f->id;
  // The further names are parameters; their identifiers are their positions.
  HRESULT hr = S_OK;
  for (UINT i = 1; i < cNames; ++i) {
    const std::u16string wanted = rgszNames[i] != nullptr ? std::u16string(rgszNames[i]) : std::u16string();
    for (size_t k = 0; k < f->params.size(); ++k)
      if (equalNoCase(toUtf16(f->params[k].name), wanted)) pMemId[i] = static_cast<MEMBERID>(k);
    if (pMemId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TypeDescription::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                                VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (pvInstance == nullptr || pDispParams == nullptr) return E_INVALIDARG;
  if (type().kind != TKIND_INTERFACE) return E_NOTIMPL;
  return invokeMember(owner_.data(), interfaceMembers(owner_.data(), type()), pvInstance, memid, wFlags,
                      pDispParams, pVarResult, pExcepInfo, puArgErr);
}

HRESULT TypeDescription::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                          DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  const Type& t = type();
  const std::string* name = &t.name;
  const std::string* help = &t.help;
  if (memid != MEMBERID_NIL) {
    const Function* f = findMember(memid);
    if (f == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    name = &f->name;
    help = &f->help;
  }
  return comCall([&] {
    setText(pBstrName, *name);
    setText(pBstrDocString, *help);
    if (pdwHelpContext != nullptr) *pdwHelpContext = 0;
    if (pBstrHelpFile != nullptr) *pBstrHelpFile = nullptr;
    return S_OK;
  });
}

HRESULT TypeDescription::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (ppTLib == nullptr) return E_INVALIDARG;
  *ppTLib = &owner_;
  owner_.AddRef();
  if (pIndex != nullptr) *pIndex = static_cast<UINT>(index_);
  return S_OK;
}

// ---- Loading --------------------------------------------------------------------

// No type library is larger; /dev/zero named as one is not read for ever.
constexpr size_t kMaxTypeLibSize = 16 << 20;

std::optional<std::string> readFile(const std::string& path) {
  Descriptor fd(openRegularFile(path));
  std::string bytes;
  if (fd.get() < 0 || !readUpTo(fd.get(), kMaxTypeLibSize, bytes)) return std::nullopt;
  return bytes;
}

// The TYPELIB resource of a module, copied out before the module is let go.
std::optional<std::string> moduleResource(const std::u16string& path, WORD id, std::u16string* fullPath) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) return std::nullopt;
  std::optional<std::string> bytes;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), u"TYPELIB")) {
    const void* data = LockResource(LoadResource(module, found));
    const DWORD size = SizeofResource(module, found);
    if (data != nullptr) bytes.emplace(static_cast<const char*>(data), size);
  }
  WCHAR name[4096];
  const DWORD length = GetModuleFileNameW(module, name, 4096);
  if (length > 0 && length < 4096) *fullPath = std::u16string(name, length);
  FreeLibrary(module);
  return bytes;
}

HRESULT loadTypeLib(const std::u16string& file, ITypeLib** out) {
  *out = nullptr;
  std::u16string path = file;
  WORD resource = 1;
  std::optional<std::string> bytes = readFile(toUtf8(path));
  // "module\2" names the module's TYPELIB resource 2.
  const size_t slash = path.find_last_of(u'\\');
  if (!bytes && slash != std::u16string::npos && slash + 1 < path.size() &&
      path.find_first_not_of(u"0123456789", slash + 1) == std::u16string::npos && path.size() - slash <= 6) {
    const unsigned long number = std::stoul(toUtf8(path.substr(slash + 1)));
    if (number > 0xFFFF) return TYPE_E_CANTLOADLIBRARY;
    resource = static_cast<WORD>(number);
    path.resize(slash);
  }
  std::u16string fullPath = path;
  if (!bytes || bytes->compare(0, 4, typelib::kMagic, 4) != 0) bytes = moduleResource(path, resource, &fullPath);
  if (!bytes) return TYPE_E_CANTLOADLIBRARY;
  Library data;
  try {
    data = typelib::parse(bytes->data(), bytes->size());
  } catch (const std::runtime_error&) {
    return TYPE_E_INVDATAREAD;
  }
  auto* library = new (std::nothrow) TypeLibrary(std::move(data));
  if (library == nullptr) return E_OUTOFMEMORY;
  *out = library;
  // As on Windows, a library named without its folder is registered where
  // it was found; one named by its full path is not.
  if (!file.empty() && file[0] != u'/' && fullPath.size() > 0 && fullPath[0] == u'/')
    RegisterTypeLib(library, fullPath.c_str(), nullptr);
  return S_OK;
}

}  // namespace

const Type* findType(const Library& library, const std::string& name) {
  for (const Type& t : library.types)
    if (t.name == name) return &t;
  return nullptr;
}

std::vector<Member> interfaceMembers(const Library& library, const Type& type) {
  std::vector<const Type*> chain{&type};
  while (const Type* base = findType(library, chain.back()->base)) {
    if (chain.size() > library.types.size()) break;  // a cycle in a malformed library
    chain.push_back(base);
  }
  size_t slot = chain.back()->base == "IDispatch" ? 7 : 3;
  std::vector<Member> members;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const Function& f : (*it)->functions) members.push_back({&f, slot++});
  return members;
}

}  // namespace tv

HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
  if (szFile == nullptr || pptlib == nullptr) return E_INVALIDARG;
  return tv::comCall([&] { return tv::loadTypeLib(szFile, pptlib); });
}

HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib) {
  if (pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  BSTR path = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, &path);
  if (FAILED(hr)) return hr;
  hr = LoadTypeLib(path, pptlib);
  SysFreeString(path);
  return hr;
}
