// Creating the test server's object through the registry, as a client does:
// ProgIDs, activation, calls by name, and unloading.
#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>

#include <thread>

#include "comtest.h"
#include "support/tempprefix.h"

extern "C" HRESULT tvtest_c_call_by_name(const WCHAR* progId, const WCHAR* method, BSTR* args, UINT count,
                                         VARIANT* result);

namespace {

using comtest::Bstr;
using comtest::Variant;

// A registered test server in a fresh prefix, on a thread in an apartment.
class Server : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(callServer("DllRegisterServer"), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  static HRESULT callServer(const char* name) {
    HMODULE module = LoadLibraryW(comtest::serverPath().c_str());
    if (module == nullptr) return E_FAIL;
    const HRESULT hr = comtest::serverExport<HRESULT (*)()>(module, name)();
    FreeLibrary(module);
    return hr;
  }
  static bool serverLoaded() { return GetModuleHandleW(comtest::serverPath().c_str()) != nullptr; }

  const std::u16string classKey = u"CLSID\\" + comtest::guidText(kClsidGreeter);
  tvtest::TempPrefix prefix_;
};

TEST_F(Server, ResolvesProgIdsThroughCurVer) {
  for (const char16_t* progId : {u"Tv.Greeter", u"Tv.Greeter.1", u"TV.GREETER"}) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, kClsidGreeter));
  }
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Tv.Nobody", &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(CLSIDFromString(u"Tv.Greeter", &clsid), S_OK);  // a ProgID is a class string too
  EXPECT_TRUE(IsEqualGUID(clsid, kClsidGreeter));

  // Versions that name each other end in an error, not in a hang.
  for (const auto& [from, to] : {std::pair{u"Tv.Loop.A", u"Tv.Loop.B"}, std::pair{u"Tv.Loop.B", u"Tv.Loop.A"}}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::u16string(from) + u"\\CurVer").c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string value = to;
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
  }
  EXPECT_EQ(CLSIDFromProgID(u"Tv.Loop.A", &clsid), CO_E_CLASSSTRING);

  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kClsidGreeter, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), u"Tv.Greeter.1");
  CoTaskMemFree(progId);
  EXPECT_EQ(ProgIDFromCLSID(kIidGreeter, &progId), REGDB_E_CLASSNOTREG);
}

TEST_F(Server, IsCalledByNameFromPlainC) {
  Bstr first(u"one"), second(u"два"), third(u"3");
  BSTR args[] = {first.get(), second.get(), third.get()};
  Variant result;
  ASSERT_EQ(tvtest_c_call_by_name(u"Tv.Greeter", u"Join", args, 3, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(result.text(), u"one|два|3");

  Variant refused;
  EXPECT_EQ(tvtest_c_call_by_name(u"Tv.Greeter", u"refuse", args, 1, &refused), kRefusal);
  Variant unknown;
  EXPECT_EQ(tvtest_c_call_by_name(u"Tv.Greeter", u"sign", args, 1, &unknown), DISP_E_UNKNOWNNAME);
}

TEST_F(Server, FailsByNameWithoutItsTypeLibrary) {
  ASSERT_EQ(UnRegisterTypeLib(kLibidTestServer, 1, 0, 0, SYS_WIN64), S_OK);
  IDispatch* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kClsidGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"greet")};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
  object->Release();
}

TEST_F(Server, ReportsClassesItCannotCreate) {
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kIidGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(kClsidGreeter, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  int outer = 0;  // the server does not aggregate, and never calls the outer object
  EXPECT_EQ(CoCreateInstance(kClsidGreeter, reinterpret_cast<IUnknown*>(&outer), CLSCTX_INPROC_SERVER,
                             IID_IUnknown, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);

  // A class whose server file is gone.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (classKey + u"\\InprocServer32").c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string gone = u"/nonexistent/server.so";
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(gone.c_str()),
                           static_cast<DWORD>((gone.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(CoCreateInstance(kClsidGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

TEST_F(Server, UnloadsOnlyAServerThatAllowsIt) {
  IUnknown* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kClsidGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
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
  // The next creation loads it again.
  ASSERT_EQ(CoCreateInstance(kClsidGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
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
