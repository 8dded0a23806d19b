// The server module as a host drives it: registration per machine and per
// user, DllInstall, the class factory, unloading, and what the library carries.
#include <gtest/gtest.h>

#include "component.h"

namespace {

using comtest::guidText;
using comtest::keyExists;
using comtest::regText;
using tvtest::ComPtr;

const std::u16string kClasses = u"Software\\Classes\\";
const std::u16string kClassKey = u"CLSID\\" + guidText(CLSID_Signer32);
const std::u16string kLibraryKey = u"TypeLib\\" + guidText(LIBID_TellvaneLib);

using Server = tvtest::ComponentTest;

// How many of the registration's keys a hive holds: the two ProgIDs, the
// class, the type library and the interface.
int keysIn(HKEY root) {
  int count = 0;
  for (const std::u16string& key : {std::u16string(u"Tellvane.Signer32.1"), std::u16string(u"Tellvane.Signer32"),
                                    kClassKey, kLibraryKey, u"Interface\\" + guidText(IID_ISigner32)})
    count += keyExists(root, kClasses + key);
  return count;
}

TEST_F(Server, RegistersTheClassProgIdsAndTypeLibraryAndRemovesThem) {
  ASSERT_TRUE(comtest::createKey(HKEY_CLASSES_ROOT, kClassKey + u"\\Stale"));  // goes whole before the class is written
  ASSERT_EQ(call("DllRegisterServer"), S_OK);
  const std::u16string clsid = guidText(CLSID_Signer32), path = tvtest::componentPath();
  const struct {
    std::u16string key;
    const char16_t* name;
    std::u16string value;
  } expected[] = {  // what the scripts substitute or the type library adds (Windows' test checks every key)
      {u"Tellvane.Signer32.1", nullptr, u"Signer32 Class"},
      {u"Tellvane.Signer32.1\\CLSID", nullptr, clsid},
      {u"Tellvane.Signer32\\CurVer", nullptr, u"Tellvane.Signer32.1"},
      {kClassKey + u"\\InprocServer32", nullptr, path},
      {kClassKey + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
      {kClassKey + u"\\TypeLib", nullptr, guidText(LIBID_TellvaneLib)},
      {kLibraryKey + u"\\1.0\\0\\win64", nullptr, path},
      {u"Interface\\" + guidText(IID_ISigner32) + u"\\TypeLib", nullptr, guidText(LIBID_TellvaneLib)},
  };
  for (const auto& e : expected)
    EXPECT_EQ(regText(HKEY_LOCAL_MACHINE, kClasses + e.key, e.name), e.value) << e.key.size();
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, kClassKey + u"\\Programmable"));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey + u"\\Stale"));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, u"Tellvane.Signer32\\CLSID"));
  EXPECT_EQ(keysIn(HKEY_CURRENT_USER), 0);

  ASSERT_EQ(call("DllUnregisterServer"), S_OK);
  EXPECT_EQ(keysIn(HKEY_LOCAL_MACHINE), 0);
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, u"CLSID"));
  EXPECT_EQ(call("DllUnregisterServer"), TYPE_E_REGISTRYACCESS);  // nothing left: the type library says so
}

// "user", five characters with the terminating zero, in any letter case,
// switches to the user's classes for the rest of the process; so the
// machine's rows come first.
TEST_F(Server, InstallsForTheMachineOrForTheUserByTheCommandLine) {
  const struct {
    const char16_t* commandLine;
    HKEY root;
  } rows[] = {{nullptr, HKEY_LOCAL_MACHINE}, {u"use", HKEY_LOCAL_MACHINE}, {u"user ", HKEY_LOCAL_MACHINE},
              {u"USER", HKEY_CURRENT_USER},  {u"user", HKEY_CURRENT_USER}, {nullptr, HKEY_CURRENT_USER}};
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    SetThreadLocale(0x0419);
    ASSERT_EQ(install(TRUE, row.commandLine), S_OK);
    EXPECT_EQ(keysIn(row.root), 5);
    EXPECT_EQ(keysIn(HKEY_LOCAL_MACHINE) + keysIn(HKEY_CURRENT_USER), 5);
    EXPECT_EQ(install(FALSE, row.commandLine), S_OK);
    EXPECT_EQ(keysIn(HKEY_LOCAL_MACHINE) + keysIn(HKEY_CURRENT_USER), 0);
    EXPECT_EQ(GetThreadLocale(), 0x0419u);
  }
}

TEST_F(Server, FailedInstallReturnsItsOwnFailureAndLeavesNothingBehind) {
  tvtest::writeFile(prefix_ / "registry/user.reg", "not a hive");
  SetThreadLocale(0x0419);
  EXPECT_EQ(install(TRUE, nullptr), HRESULT_FROM_WIN32(ERROR_BADDB));
  EXPECT_EQ(GetThreadLocale(), 0x0419u);
  EXPECT_EQ(keysIn(HKEY_LOCAL_MACHINE), 0);
}

TEST_F(Server, UnloadsOnlyWithoutObjectsOrLocks) {
  EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
  {
    ComPtr<IClassFactory> held = factory();
    EXPECT_EQ(call("DllCanUnloadNow"), S_FALSE);  // a held factory keeps the code loaded
    ASSERT_EQ(held->LockServer(TRUE), S_OK);
  }
  EXPECT_EQ(call("DllCanUnloadNow"), S_FALSE);
  {
    ComPtr<ISigner32> object = create();
    factory()->LockServer(FALSE);
    EXPECT_EQ(call("DllCanUnloadNow"), S_FALSE);
  }
  EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
}

TEST_F(Server, HandsOutOneFactoryForItsClassOnly) {
  auto getClassObject = comtest::serverExport<LPFNGETCLASSOBJECT>(module_, "DllGetClassObject");
  void* other = &other;
  EXPECT_EQ(getClassObject(IID_ISigner32, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(getClassObject(CLSID_Signer32, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(factory().get(), factory().get());
  // Asked for IUnknown (as CoGetClassObject does) or IClassFactory: itself.
  for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory}) {
    void* asked = nullptr;
    ASSERT_EQ(factory()->QueryInterface(*iid, &asked), S_OK);
    EXPECT_EQ(asked, static_cast<void*>(factory().get()));
    static_cast<IUnknown*>(asked)->Release();
  }
  void* refused = &refused;
  EXPECT_EQ(factory()->QueryInterface(IID_IDispatch, &refused), E_NOINTERFACE);
  EXPECT_EQ(refused, nullptr);
}

TEST_F(Server, CarriesItsTypeLibraryNameAndVersion) {
  ITypeLib* loaded = nullptr;
  ASSERT_EQ(LoadTypeLib(tvtest::componentPath().c_str(), &loaded), S_OK);
  EXPECT_EQ(loaded->GetTypeInfoCount(), 3u);
  loaded->Release();
  WCHAR name[16];
  ASSERT_EQ(LoadStringW(module_, 100, name, 16), 8);
  EXPECT_EQ(std::u16string(name), u"Tellvane");
  EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(2), RT_MANIFEST), nullptr);
  EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(1), RT_VERSION), nullptr);
}

}  // namespace
