// Type libraries: what LoadTypeLib reads from a module's TYPELIB resource,
// and the registry keys RegisterTypeLib writes and UnRegisterTypeLib removes.
#include <gtest/gtest.h>

#include <oleauto.h>

#include <sys/stat.h>
#include <unistd.h>

#include <tuple>
#include <vector>

#include "comtest.h"
#include "support/tempprefix.h"

namespace {

using comtest::Bstr;
using comtest::keyExists;
using comtest::regText;

struct TypeLib {
  ITypeLib* lib = nullptr;
  ~TypeLib() {
    if (lib != nullptr) lib->Release();
  }
};

struct TypeInfo {
  ITypeInfo* info = nullptr;
  ~TypeInfo() {
    if (info != nullptr) info->Release();
  }
  TYPEATTR attr() const {
    TYPEATTR* a = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&a), S_OK);
    const TYPEATTR copy = *a;
    info->ReleaseTypeAttr(a);
    return copy;
  }
};

class TypeLibrary : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(LoadTypeLib(comtest::serverPath().c_str(), &tl_.lib), S_OK); }
  TypeLib tl_;
};

TEST_F(TypeLibrary, DescribesTheLibraryAndItsTypes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(tl_.lib->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, kLibidTestServer));
  EXPECT_EQ(attr->wMajorVerNum * 10 + attr->wMinorVerNum, 10);
  EXPECT_EQ(attr->syskind, SYS_WIN64);
  tl_.lib->ReleaseTLibAttr(attr);
  const struct {
    const char16_t* name;
    TYPEKIND kind;
  } expected[] = {{u"IGreeter", TKIND_DISPATCH}, {u"ICounter", TKIND_INTERFACE}, {u"Greeter", TKIND_COCLASS}};
  ASSERT_EQ(tl_.lib->GetTypeInfoCount(), 3u);
  for (UINT i = 0; i < 3; ++i) {
    Bstr name;
    ASSERT_EQ(tl_.lib->GetDocumentation(static_cast<INT>(i), name.out(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.text(), expected[i].name);
    TYPEKIND kind;
    ASSERT_EQ(tl_.lib->GetTypeInfoType(i, &kind), S_OK);
    EXPECT_EQ(kind, expected[i].kind);
  }
  // The class names its default interface.
  TypeInfo coclass;
  ASSERT_EQ(tl_.lib->GetTypeInfo(2, &coclass.info), S_OK);
  EXPECT_TRUE(IsEqualGUID(coclass.attr().guid, kClsidGreeter));
  EXPECT_TRUE(coclass.attr().wTypeFlags & TYPEFLAG_FCANCREATE);
  INT flags = 0;
  ASSERT_EQ(coclass.info->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref = 0;
  ASSERT_EQ(coclass.info->GetRefTypeOfImplType(0, &ref), S_OK);
  TypeInfo defaultInterface;
  ASSERT_EQ(coclass.info->GetRefTypeInfo(ref, &defaultInterface.info), S_OK);
  EXPECT_TRUE(IsEqualGUID(defaultInterface.attr().guid, kIidGreeter));
  // (Members' names and help strings are read by the component's tests.)
  EXPECT_EQ(defaultInterface.info->GetDocumentation(42, nullptr, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeLibrary, ShowsADualInterfaceInBothViews) {
  TypeInfo dispatch;
  ASSERT_EQ(tl_.lib->GetTypeInfoOfGuid(kIidGreeter, &dispatch.info), S_OK);
  const TYPEATTR attr = dispatch.attr();
  const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
  EXPECT_EQ(attr.wTypeFlags & flags, flags);
  EXPECT_EQ(attr.cFuncs, 8);

  // In the dispatch view greet(name, [out, retval] greeting) returns a BSTR.
  FUNCDESC* desc = nullptr;
  ASSERT_EQ(dispatch.info->GetFuncDesc(1, &desc), S_OK);
  EXPECT_EQ(desc->memid, 2);
  EXPECT_EQ(desc->funckind, FUNC_DISPATCH);
  EXPECT_EQ(desc->cParams, 1);
  EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_BSTR);
  dispatch.info->ReleaseFuncDesc(desc);

  // The interface view keeps the vtable method: HRESULT greet(BSTR, BSTR*).
  HREFTYPE ref = 0;
  ASSERT_EQ(dispatch.info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  TypeInfo vtable;
  ASSERT_EQ(dispatch.info->GetRefTypeInfo(ref, &vtable.info), S_OK);
  EXPECT_EQ(vtable.attr().typekind, TKIND_INTERFACE);
  EXPECT_EQ(vtable.attr().cbSizeVft, 15 * sizeof(void*));
  ASSERT_EQ(vtable.info->GetFuncDesc(1, &desc), S_OK);
  EXPECT_EQ(desc->cParams, 2);
  EXPECT_EQ(desc->oVft, 8 * static_cast<SHORT>(sizeof(void*)));
  EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_HRESULT);
  ASSERT_EQ(desc->lprgelemdescParam[1].tdesc.vt, VT_PTR);
  EXPECT_EQ(desc->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_BSTR);
  EXPECT_EQ(desc->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  vtable.info->ReleaseFuncDesc(desc);
}

TEST_F(TypeLibrary, FindsNamesWithoutRegardToCase) {
  // IsName gives back the stored spelling; FindName the types and members of that name.
  std::u16string name = u"GREET";
  BOOL found = FALSE;
  ASSERT_EQ(tl_.lib->IsName(name.data(), 0, &found), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(name, u"greet");
  name = u"nowhere";
  ASSERT_EQ(tl_.lib->IsName(name.data(), 0, &found), S_OK);
  EXPECT_FALSE(found);
  // Asked for fewer than match (none here), it fills no more than asked.
  const struct {
    const char16_t* text;
    MEMBERID id;
    USHORT asked, found;
  } rows[] = {{u"igreeter", MEMBERID_NIL, 3, 1}, {u"Join", 3, 3, 1}, {u"join", 3, 0, 0}};
  for (const auto& row : rows) {
    ITypeInfo* infos[3] = {};
    MEMBERID ids[3] = {};
    USHORT count = row.asked;
    name = row.text;
    ASSERT_EQ(tl_.lib->FindName(name.data(), 0, infos, ids, &count), S_OK);
    ASSERT_EQ(count, row.found);
    if (count > 0) {
      EXPECT_EQ(ids[0], row.id);
    }
    for (USHORT i = 0; i < count; ++i) infos[i]->Release();
    EXPECT_EQ(infos[count], nullptr);
  }
}

TEST(LoadTypeLib, ReadsTheFileAndNumberedResourcesAndRefusesTheRest) {
  const std::string file = TV_TEST_COMSERVER_TLB;
  for (const std::u16string& path : {std::u16string(file.begin(), file.end()), comtest::serverPath() + u"\\1"}) {
    TypeLib tl;
    ASSERT_EQ(LoadTypeLib(path.c_str(), &tl.lib), S_OK);
    EXPECT_EQ(tl.lib->GetTypeInfoCount(), 3u);
  }
  // Neither a FIFO (file and module loader alike would wait for a writer)
  // nor a device without end is read.
  tvtest::TempFolder folder;
  const std::string fifo = folder.path() + "/library.tlb";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string server = TV_TEST_COMSERVER;
  for (const std::string& path : {server + "\\2", std::string("/nonexistent/library.so"), fifo, std::string("/dev/zero")}) {
    TypeLib missing;
    EXPECT_EQ(LoadTypeLib(std::u16string(path.begin(), path.end()).c_str(), &missing.lib), TYPE_E_CANTLOADLIBRARY)
        << path;
    EXPECT_EQ(missing.lib, nullptr);
  }
}

TEST(LoadTypeLib, RefusesEveryTruncatedLibrary) {
  tvtest::TempPrefix prefix;
  const std::string bytes = tvtest::readFile(TV_TEST_COMSERVER_TLB);
  ASSERT_GT(bytes.size(), 100u);
  const std::string path = prefix / "cut.tlb";
  const std::u16string widePath(path.begin(), path.end());
  // Every cut past the magic, and a count inflated beyond the data.
  std::string inflated = bytes;
  inflated[8 + 16 + 2 + 2 + 4 + 4 + 2 + 4 + 15 + 4 + 3] = '\x7F';  // the type count's high byte
  std::vector<std::string> broken = {inflated};
  for (size_t length = 4; length < bytes.size(); ++length) broken.push_back(bytes.substr(0, length));
  for (const std::string& library : broken) {
    tvtest::writeFile(path, library);
    TypeLib tl;
    ASSERT_EQ(LoadTypeLib(widePath.c_str(), &tl.lib), TYPE_E_INVDATAREAD) << library.size();
  }
}

// ---- Registration -----------------------------------------------------------------

class Registration : public TypeLibrary {
 protected:
  const std::u16string libKey = u"TypeLib\\" + comtest::guidText(kLibidTestServer);
  const std::u16string interfaceKey = u"Interface\\" + comtest::guidText(kIidGreeter);
  tvtest::TempPrefix prefix_;
};

TEST_F(Registration, WritesTheTypeLibraryAndInterfaceKeys) {
  const std::u16string path = comtest::serverPath();
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, libKey));  // loading it by full path registered nothing
  ASSERT_EQ(RegisterTypeLib(tl_.lib, path.c_str(), nullptr), S_OK);
  const std::u16string automation = u"{00020424-0000-0000-C000-000000000046}";
  const struct {
    std::u16string key;
    const char16_t* name;
    std::u16string value;
  } expected[] = {
      {libKey + u"\\1.0\\0\\win64", nullptr, path},
      {libKey + u"\\1.0\\FLAGS", nullptr, u"0"},
      {libKey + u"\\1.0\\HELPDIR", nullptr, path.substr(0, path.rfind(u'/'))},
      {interfaceKey, nullptr, u"IGreeter"},
      {interfaceKey + u"\\ProxyStubClsid", nullptr, automation},
      {interfaceKey + u"\\ProxyStubClsid32", nullptr, automation},
      {interfaceKey + u"\\TypeLib", u"Version", u"1.0"},
  };
  for (const auto& e : expected)  // a machine-wide registration lands in the machine's classes
    EXPECT_EQ(regText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\" + e.key, e.name), e.value);
  // An interface that is not an automation interface is not registered.
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, u"Interface\\" + comtest::guidText(kIidCounter)));

  BSTR found = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(kLibidTestServer, 1, 0, 0x0419, &found), S_OK);
  EXPECT_EQ(std::u16string(found), path);
  SysFreeString(found);
  for (const auto& [major, minor, result] : {std::tuple{1, 0, S_OK}, {1, 1, TYPE_E_LIBNOTREGISTERED},
                                             {2, 0, TYPE_E_LIBNOTREGISTERED}}) {
    TypeLib loaded;
    EXPECT_EQ(LoadRegTypeLib(kLibidTestServer, major, minor, 0, &loaded.lib), result) << major << "." << minor;
  }
  // A help folder given replaces the one the registration would name, and
  // stays when the library is registered again without one.
  ASSERT_EQ(RegisterTypeLib(tl_.lib, path.c_str(), u"/help"), S_OK);
  ASSERT_EQ(RegisterTypeLib(tl_.lib, path.c_str(), nullptr), S_OK);
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, libKey + u"\\1.0\\HELPDIR"), u"/help");
}

TEST_F(Registration, RemovesItsKeysButNotOthers) {
  ASSERT_EQ(RegisterTypeLib(tl_.lib, comtest::serverPath().c_str(), nullptr), S_OK);
  ASSERT_TRUE(comtest::createKey(HKEY_CLASSES_ROOT, interfaceKey + u"\\Foreign"));  // another program's key
  ASSERT_EQ(UnRegisterTypeLib(kLibidTestServer, 1, 0, 0, SYS_WIN64), S_OK);
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, libKey));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, interfaceKey + u"\\TypeLib"));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, interfaceKey + u"\\ProxyStubClsid32"));
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, interfaceKey + u"\\Foreign"));
  EXPECT_TRUE(FAILED(UnRegisterTypeLib(kLibidTestServer, 1, 0, 0, SYS_WIN64)));
}

TEST_F(Registration, RegistersALibraryNamedWithoutItsFolder) {
  const std::u16string path = comtest::serverPath();
  const size_t slash = path.rfind(u'/');
  const std::string folder(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(slash));
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  TypeLib relative;
  const HRESULT hr = LoadTypeLib((u"." + path.substr(slash)).c_str(), &relative.lib);
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_EQ(hr, S_OK);
  // Registered under the full path it was found at.
  EXPECT_EQ(regText(HKEY_CLASSES_ROOT, libKey + u"\\1.0\\0\\win64"), path);
}

}  // namespace
