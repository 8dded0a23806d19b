// The component as its clients reach it: its library file loaded by path,
// its exports, and objects made by its class factory, in a fresh prefix.
#pragma once

#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>

#include <memory>
#include <string>

#include "support/comtest.h"
#include "support/tempprefix.h"
#include "tellvane/interfaces.h"

namespace tvtest {

inline std::u16string componentPath() {
  const std::string path = TV_TELLVANE_COMPONENT;
  return std::u16string(path.begin(), path.end());
}

struct Releaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <class T>
using ComPtr = std::unique_ptr<T, Releaser>;

// What an object answers for an interface (null when it refuses).
template <class T>
ComPtr<T> query(IUnknown* object, REFIID riid) {
  void* found = nullptr;
  object->QueryInterface(riid, &found);
  return ComPtr<T>(static_cast<T*>(found));
}

class ComponentTest : public testing::Test {
 protected:
  ComponentTest() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    module_ = LoadLibraryW(componentPath().c_str());
  }
  ~ComponentTest() override {
    FreeLibrary(module_);
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  HRESULT call(const char* name) { return comtest::serverExport<HRESULT (*)()>(module_, name)(); }
  HRESULT install(BOOL doInstall, const WCHAR* commandLine) {
    return comtest::serverExport<HRESULT (*)(BOOL, LPCWSTR)>(module_, "DllInstall")(doInstall, commandLine);
  }
  ComPtr<IClassFactory> factory() {
    void* found = nullptr;
    EXPECT_EQ(comtest::serverExport<LPFNGETCLASSOBJECT>(module_, "DllGetClassObject")(CLSID_Signer32, IID_IClassFactory,
                                                                                      &found),
              S_OK);
    return ComPtr<IClassFactory>(static_cast<IClassFactory*>(found));
  }
  // A plain instance, asked for ISigner32.
  ComPtr<ISigner32> create() {
    void* object = nullptr;
    EXPECT_EQ(factory()->CreateInstance(nullptr, IID_ISigner32, &object), S_OK);
    return ComPtr<ISigner32>(static_cast<ISigner32*>(object));
  }

  TempPrefix prefix_;
  HMODULE module_ = nullptr;
};

}  // namespace tvtest
