// Creating the test server's object through the registry, as a client does:
// ProgIDs, activation and unloading.
#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>

#include <thread>

#include "comtest.h"
#include "support/tempprefix.h"

namespace {

// A registered test server in a fresh prefix, on a thread in an apartment.
class Server : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    // The ProgIDs' way to the class, and its server.
    setDefault(u"Tv.Greeter.1\\CLSID", comtest::guidText(kClsidGreeter));
    setDefault(u"Tv.Greeter\\CurVer", u"Tv.Greeter.1");
    setDefault(classKey + u"\\ProgID", u"Tv.Greeter.1");
    setDefault(classKey + u"\\InprocServer32", comtest::serverPath());
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  static void setDefault(const std::u16string& path, const std::u16string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
  }
  static bool serverLoaded() { return GetModuleHandleW(comtest::serverPath().c_str()) != nullptr; }
  static HRESULT create(IUnknown** object, DWORD context = CLSCTX_INPROC_SERVER, REFCLSID clsid = kClsidGreeter,
                        IUnknown* outer = nullptr) {
    return CoCreateInstance(clsid, outer, context, IID_IUnknown, reinterpret_cast<void**>(object));
  }

  const std::u16string classKey = u"CLSID\\" + comtest::guidText(kClsidGreeter);
  tvtest::TempPrefix prefix_;
};

TEST_F(Server, ResolvesProgIdsThroughCurVer) {
  // Versions that name each other end in an error, not in a hang.
  setDefault(u"Tv.Loop.A\\CurVer", u"Tv.Loop.B");
  setDefault(u"Tv.Loop.B\\CurVer", u"Tv.Loop.A");
  const struct {
    const char16_t* progId;
    HRESULT result;
  } cases[] = {{u"Tv.Greeter", S_OK}, {u"Tv.Greeter.1", S_OK}, {u"TV.GREETER", S_OK},
               {u"Tv.Nobody", CO_E_CLASSSTRING}, {u"Tv.Loop.A", CO_E_CLASSSTRING}};
  for (const auto& c : cases) {
    CLSID clsid = CLSID_NULL;
    EXPECT_EQ(CLSIDFromProgID(c.progId, &clsid), c.result);
    EXPECT_EQ(IsEqualGUID(clsid, kClsidGreeter), c.result == S_OK);
  }
  CLSID clsid;
  ASSERT_EQ(CLSIDFromString(u"Tv.Greeter", &clsid), S_OK);  // a ProgID is a class string too
  EXPECT_TRUE(IsEqualGUID(clsid, kClsidGreeter));

  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kClsidGreeter, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), u"Tv.Greeter.1");
  CoTaskMemFree(progId);
  EXPECT_EQ(ProgIDFromCLSID(kIidGreeter, &progId), REGDB_E_CLASSNOTREG);
}

TEST_F(Server, ReportsClassesItCannotCreate) {
  IUnknown* object = nullptr;
  EXPECT_EQ(create(&object, CLSCTX_INPROC_SERVER, kIidGreeter), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(create(&object, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);
  int outer = 0;  // the server does not aggregate, and never calls the outer object
  EXPECT_EQ(create(&object, CLSCTX_INPROC_SERVER, kClsidGreeter, reinterpret_cast<IUnknown*>(&outer)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  // A class whose server file is gone.
  setDefault(classKey + u"\\InprocServer32", u"/nonexistent/server.so");
  EXPECT_EQ(create(&object), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

TEST_F(Server, UnloadsOnlyAServerThatAllowsIt) {
  IUnknown* object = nullptr;
  ASSERT_EQ(create(&object), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(serverLoaded());  // an object is alive
  object->Release();

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(kClsidGreeter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(serverLoaded());  // a client holds the factory and a lock
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();

  CoFreeUnusedLibraries();
  EXPECT_FALSE(serverLoaded());
  ASSERT_EQ(create(&object), S_OK);  // the next creation loads it again
  EXPECT_TRUE(serverLoaded());
  object->Release();
}

TEST(Apartment, CountsInitialisationsPerThread) {
  std::thread([] {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kClsidGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // uninitialised: the mode may change
    CoUninitialize();
  }).join();
}

}  // namespace
