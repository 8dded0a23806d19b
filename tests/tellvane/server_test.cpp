// The server module as a host drives it: registration per machine and per
// user, DllInstall, the class factory and unloading.
#include <gtest/gtest.h>

#include "component.h"

namespace {

using comtest::guidText;
using comtest::keyExists;
using comtest::regText;
using tvtest::ComPtr;

const std::u16string kClassKey = u"CLSID\\" + guidText(CLSID_Signer32);
const std::u16string kLibraryKey = u"TypeLib\\" + guidText(LIBID_TellvaneLib);
const std::u16string kClasses = u"Software\\Classes\\";

class Server : public tvtest::ComponentTest {
 protected:
  // Where the registration went: the ProgID, the class, the type library.
  static bool registeredIn(HKEY root) {
    return keyExists(root, kClasses + u"Tellvane.Signer32.1") && keyExists(root, kClasses + kClassKey) &&
           keyExists(root, kClasses + kLibraryKey);
  }
  static bool anythingIn(HKEY root) {
    for (const std::u16string& key : {std::u16string(u"Tellvane.Signer32.1"), std::u16string(u"Tellvane.Signer32"),
                                      kClassKey, kLibraryKey, u"Interface\\" + guidText(IID_ISigner32)})
      if (keyExists(root, kClasses + key)) return true;
    return false;
  }
};

TEST_F(Server, RegistersTheClassProgIdsAndTypeLibraryAndRemovesThem) {
  // A stale class key goes whole before the class is written.
  HKEY stale = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + u"\\Stale").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &stale, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(stale);
  ASSERT_EQ(call("DllRegisterServer"), S_OK);

  const std::u16string clsid = guidText(CLSID_Signer32), path = tvtest::componentPath();
  const struct {
    std::u16string key;
    const char16_t* name;
    std::u16string value;
  } expected[] = {
      {u"Tellvane.Signer32.1", nullptr, u"Signer32 Class"},
      {u"Tellvane.Signer32.1\\CLSID", nullptr, clsid},
      {u"Tellvane.Signer32", nullptr, u"Signer32 Class"},
      {u"Tellvane.Signer32\\CurVer", nullptr, u"Tellvane.Signer32.1"},
      {kClassKey, nullptr, u"Signer32 Class"},
      {kClassKey + u"\\ProgID", nullptr, u"Tellvane.Signer32.1"},
      {kClassKey + u"\\VersionIndependentProgID", nullptr, u"Tellvane.Signer32"},
      {kClassKey + u"\\InprocServer32", nullptr, path},
      {kClassKey + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
      {kClassKey + u"\\TypeLib", nullptr, guidText(LIBID_TellvaneLib)},
      {kClassKey + u"\\Version", nullptr, u"1.0"},
      {kLibraryKey + u"\\1.0", nullptr, u"TellvaneLib"},
      {kLibraryKey + u"\\1.0\\0\\win64", nullptr, path},
      {u"Interface\\" + guidText(IID_ISigner32) + u"\\TypeLib", nullptr, guidText(LIBID_TellvaneLib)},
  };
  for (const auto& e : expected)
    EXPECT_EQ(regText(HKEY_LOCAL_MACHINE, kClasses + e.key, e.name), e.value) << std::string(e.key.begin(), e.key.end());
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, kClassKey + u"\\Programmable"));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey + u"\\Stale"));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, u"Tellvane.Signer32\\CLSID"));
  EXPECT_FALSE(anythingIn(HKEY_CURRENT_USER));

  ASSERT_EQ(call("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(anythingIn(HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, u"CLSID"));
  // Nothing is left to remove: the type library's removal says so.
  EXPECT_EQ(call("DllUnregisterServer"), TYPE_E_REGISTRYACCESS);
}

// "user", five characters with the terminating zero, in any letter case,
// switches to the user's classes for the rest of the process; so the
// machine's rows come first.
TEST_F(Server, InstallsForTheMachineOrForTheUserByTheCommandLine) {
  const struct {
    const char16_t* commandLine;
    bool perUser;
  } rows[] = {{nullptr, false}, {u"use", false}, {u"user ", false}, {u"users", false},
              {u"USER", true},  {u"user", true}, {nullptr, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.commandLine != nullptr ? std::string(row.commandLine, row.commandLine + 5) : "null");
    SetThreadLocale(0x0419);
    ASSERT_EQ(install(TRUE, row.commandLine), S_OK);
    EXPECT_EQ(GetThreadLocale(), 0x0419u);
    EXPECT_TRUE(registeredIn(row.perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(anythingIn(row.perUser ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER));
    EXPECT_EQ(install(FALSE, row.commandLine), S_OK);
    EXPECT_EQ(GetThreadLocale(), 0x0419u);
    EXPECT_FALSE(anythingIn(HKEY_LOCAL_MACHINE) || anythingIn(HKEY_CURRENT_USER));
  }
}

TEST_F(Server, FailedInstallReturnsItsOwnFailureAndLeavesNothingBehind) {
  tvtest::writeFile(prefix_ / "registry/user.reg", "not a hive");
  SetThreadLocale(0x0419);
  EXPECT_EQ(install(TRUE, nullptr), HRESULT_FROM_WIN32(ERROR_BADDB));
  EXPECT_EQ(GetThreadLocale(), 0x0419u);
  EXPECT_FALSE(anythingIn(HKEY_LOCAL_MACHINE));
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
}

}  // namespace
