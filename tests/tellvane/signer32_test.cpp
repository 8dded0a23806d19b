// The scripting object as scripts and hosts see it: its interfaces, safety
// options, message box, and its four methods called by name.
#include <gtest/gtest.h>
#include <objsafe.h>
#include <tvplatform.h>

#include <vector>

#include "component.h"
#include "shared/clientcrypto.h"
#include "support/certfactory.h"
#include "support/debugcapture.h"
#include "support/gostsigning.h"
#include "support/json.h"

extern "C" HRESULT tvtest_c_call_by_name(const WCHAR* progId, const WCHAR* method, BSTR* args, UINT count,
                                         VARIANT* result);

namespace {

using comtest::Bstr;
using comtest::Variant;
using tvtest::ComPtr;

// {9F1C2A52-3D0B-4E8A-9C61-2B7E5D9A0F14}: an interface nobody implements.
constexpr IID kOtherIid = {0x9F1C2A52, 0x3D0B, 0x4E8A, {0x9C, 0x61, 0x2B, 0x7E, 0x5D, 0x9A, 0x0F, 0x14}};

using Signer32 = tvtest::ComponentTest;

TEST_F(Signer32, AnswersItsInterfaceMapAloneAndAggregated) {
  ComPtr<ISigner32> plain = create();
  // An outer object that counts the references its inner part passes on.
  struct Outer : IUnknown {
    ULONG references = 1;
    IUnknown* inner = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      if (!IsEqualGUID(riid, IID_IUnknown)) return inner->QueryInterface(riid, ppv);
      *ppv = this;
      AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
  } outer;
  void* inner = nullptr;
  EXPECT_EQ(factory()->CreateInstance(&outer, IID_ISigner32, &inner), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory()->CreateInstance(&outer, IID_IUnknown, &inner), S_OK);
  outer.inner = static_cast<IUnknown*>(inner);

  for (IUnknown* object : {static_cast<IUnknown*>(plain.get()), outer.inner}) {
    const ComPtr<IUnknown> signer = tvtest::query<IUnknown>(object, IID_ISigner32);
    ASSERT_NE(signer, nullptr);
    EXPECT_EQ(tvtest::query<IUnknown>(object, IID_IDispatch), signer);
    EXPECT_NE(tvtest::query<IUnknown>(object, IID_IObjectSafety), nullptr);
    EXPECT_NE(tvtest::query<IUnknown>(object, IID_ISupportErrorInfo), nullptr);
    void* none = &none;
    EXPECT_EQ(object->QueryInterface(kOtherIid, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    // Through any of its interfaces an aggregated object is its outer object.
    EXPECT_EQ(tvtest::query<IUnknown>(signer.get(), IID_IUnknown).get(),
              object == outer.inner ? static_cast<IUnknown*>(&outer) : signer.get());
  }
  EXPECT_EQ(outer.references, 1u);
  EXPECT_EQ(outer.inner->Release(), 0u);
}

TEST_F(Signer32, IsSafeForScriptingWhateverIsAskedOrSet) {
  ComPtr<ISigner32> object = create();
  const ComPtr<IObjectSafety> safety = tvtest::query<IObjectSafety>(object.get(), IID_IObjectSafety);
  tvtest::DebugCapture trace;
  for (const IID* iid : {&IID_ISigner32, &kOtherIid}) {
    DWORD supported = 0, enabled = 0;
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(*iid, 0xFFFFFFFF, 0), S_OK);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled), S_OK);
    EXPECT_TRUE(supported == 3 && enabled == 3) << supported << " " << enabled;
  }
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ISigner32, nullptr, nullptr), E_POINTER);
  const std::vector<std::string> lines = trace.lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("tellvane/signer32.cpp(", 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find(") : CSafeObject::GetInterfaceSafetyOptions\n"), std::string::npos) << lines[1];

  const ComPtr<ISupportErrorInfo> errors = tvtest::query<ISupportErrorInfo>(object.get(), IID_ISupportErrorInfo);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_ISigner32), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST_F(Signer32, ShowsTheMessageInAnInformationBox) {
  struct Shown {
    std::u16string text, caption;
    UINT type = 0;
  } shown;
  TvSetMessageBoxHook(
      [](HWND, LPCWSTR text, LPCWSTR caption, UINT type, void* context) {
        *static_cast<Shown*>(context) = {text, caption, type};
        return IDCANCEL;
      },
      &shown);
  ComPtr<ISigner32> object = create();
  Bstr message(u"Привет");
  EXPECT_EQ(object->showMessage(message.get()), S_OK);
  EXPECT_EQ(shown.text, u"Привет");
  EXPECT_EQ(shown.caption, u"Сообщение");
  EXPECT_EQ(shown.type, static_cast<UINT>(MB_ICONINFORMATION));
  TvSetMessageBoxHook(nullptr, nullptr);
}

TEST_F(Signer32, RefusesANullResultThroughItsOwnSlots) {
  ComPtr<ISigner32> object = create();
  Bstr text(u"x");
  tvtest::DebugCapture trace;
  EXPECT_EQ(object->getCertListAsJson(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(object->signHash(text.get(), text.get(), nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(object->signString(text.get(), text.get(), nullptr, nullptr), E_INVALIDARG);
  // Each signing method says so first, with its place in the source, then the operation and its refusal.
  std::string lines;
  for (const std::string& line : trace.lines()) lines += line + '|';
  for (const char* method : {"ClientCrypto::getCertListAsJson|Invalid arg|",
                             ") : CSigner32::signHash\n|ClientCrypto::signHash|Invalid argument|",
                             ") : CSigner32::signString\n|ClientCrypto::signString|Invalid argument|"})
    EXPECT_NE(lines.find(method), std::string::npos) << lines;
}

// A method of a new Tellvane.Signer32 called by name from C, its arguments as texts.
HRESULT callByName(const char16_t* method, const std::vector<std::u16string>& texts, std::u16string* result) {
  std::vector<BSTR> args;
  for (const std::u16string& text : texts) args.push_back(SysAllocString(text.c_str()));
  Variant value;
  const HRESULT hr = tvtest_c_call_by_name(u"Tellvane.Signer32", method, args.data(), args.size(), &value);
  for (BSTR arg : args) SysFreeString(arg);
  *result = value.vt == VT_BSTR ? value.text() : u"";
  return hr;
}

// Scripts call the methods by name in any letter case, with their arguments
// in order, and get what the operations themselves give.
TEST_F(Signer32, CallsByNameGiveTheOperationsEnvelopes) {
  const tvtest::TestCertificate made = tvtest::makeCertificate();
  tvtest::installCertificate(prefix_.path(), "signer.der", made.der);
  tvtest::installKeyContainer("signer", made.privateKeyPem, made.publicKeyDer);
  const tvtest::ScopedPinentry noPinentry;
  const std::string ascii = tvtest::sha1Hex(made.der);
  const std::u16string thumbprint(ascii.begin(), ascii.end());
  // An object made before the type library is registered cannot be called by name until it is.
  ComPtr<ISigner32> early = create();
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(u"signHash");
  EXPECT_EQ(early->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), TYPE_E_LIBNOTREGISTERED);
  ASSERT_EQ(call("DllRegisterServer"), S_OK);
  EXPECT_EQ(early->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);

  Bstr list;
  ClientCrypto().getCertListAsJson(nullptr, list.out());
  std::u16string result;
  for (const char16_t* method : {u"getCertListAsJson", u"GETCERTLISTASJSON"}) {
    EXPECT_EQ(callByName(method, {u"any pin"}, &result), S_OK);
    EXPECT_EQ(result, list.text());
  }
  // Signatures differ at every call: only their success is compared.
  for (const auto& [method, data] : {std::pair{u"SignHash", u"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="},
                                     std::pair{u"signSTRING", u"текст"}}) {
    EXPECT_EQ(callByName(method, {data, thumbprint, u"1234"}, &result), S_OK);
    EXPECT_TRUE(tvtest::parseEnvelope(Bstr(result).get()).success) << std::string(result.begin(), result.end());
  }
  EXPECT_EQ(callByName(u"showMessageBox", {u"x"}, &result), DISP_E_UNKNOWNNAME);
}

}  // namespace
