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

class Signer32 : public tvtest::ComponentTest {
 protected:
  // A method called by name through IDispatch, its arguments as texts.
  static HRESULT callByName(IDispatch* object, const char16_t* name, const std::vector<std::u16string>& args,
                            std::u16string* result = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    std::vector<Variant> reversed(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      reversed[args.size() - 1 - i].vt = VT_BSTR;
      reversed[args.size() - 1 - i].bstrVal = SysAllocString(args[i].c_str());
    }
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(args.size()), 0};
    Variant value;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &value, nullptr, nullptr);
    if (result != nullptr) *result = value.text();
    return hr;
  }
  static std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }
};

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
  for (const IID* iid : {&IID_ISigner32, &IID_IDispatch, &IID_IUnknown, &kOtherIid}) {
    DWORD supported = 0, enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 3u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(*iid, 0xFFFFFFFF, 0), S_OK);
  }
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ISigner32, nullptr, nullptr), E_POINTER);
  const std::vector<std::string> lines = trace.lines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0].rfind("tellvane/signer32.cpp(", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(") : CSafeObject::GetInterfaceSafetyOptions\n"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(") : CSafeObject::SetInterfaceSafetyOptions\n"), std::string::npos) << lines[1];

  const ComPtr<ISupportErrorInfo> errors = tvtest::query<ISupportErrorInfo>(object.get(), IID_ISupportErrorInfo);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_ISigner32), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IObjectSafety), S_FALSE);
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
  EXPECT_EQ(object->showMessage(nullptr), S_OK);
  EXPECT_EQ(shown.text, u"");
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
  for (const char* method : {") : CSigner32::signHash\n|ClientCrypto::signHash|Invalid argument|",
                             ") : CSigner32::signString\n|ClientCrypto::signString|Invalid argument|"})
    EXPECT_NE(lines.find(method), std::string::npos) << lines;
}

// Scripts call the four methods by name in any letter case and get what the
// operations themselves give; a C client as well as a C++ one.
TEST_F(Signer32, CallsByNameGiveTheOperationsEnvelopes) {
  const tvtest::TestCertificate made = tvtest::makeCertificate();
  tvtest::installCertificate(prefix_.path(), "signer.der", made.der);
  tvtest::installKeyContainer("signer", made.privateKeyPem, made.publicKeyDer);
  const tvtest::ScopedPinentry noPinentry;
  const std::u16string thumbprint = wide(tvtest::sha1Hex(made.der));
  // An object made before the type library is registered cannot be called by name until it is.
  ComPtr<ISigner32> early = create();
  EXPECT_EQ(callByName(early.get(), u"getCertListAsJson", {u""}), TYPE_E_LIBNOTREGISTERED);
  ASSERT_EQ(call("DllRegisterServer"), S_OK);
  EXPECT_EQ(callByName(early.get(), u"getCertListAsJson", {u""}), S_OK);

  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"Tellvane.Signer32", &clsid), S_OK);
  void* created = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &created), S_OK);
  const ComPtr<IDispatch> object(static_cast<IDispatch*>(created));

  BSTR list = nullptr;
  ClientCrypto().getCertListAsJson(nullptr, &list);
  const std::u16string expectedList(list, SysStringLen(list));
  SysFreeString(list);
  std::u16string result;
  for (const char16_t* name : {u"getCertListAsJson", u"GETCERTLISTASJSON", u"getcertlistasjson"}) {
    EXPECT_EQ(callByName(object.get(), name, {u"any pin"}, &result), S_OK);
    EXPECT_EQ(result, expectedList);
  }
  Bstr pin(u"");
  Variant fromC;
  EXPECT_EQ(tvtest_c_call_by_name(u"tellvane.signer32.1", u"GetCertListAsJson", pin.out(), 1, &fromC), S_OK);
  EXPECT_EQ(fromC.text(), expectedList);

  // Signatures differ at every call: a made one is checked for success, a
  // refused one against the operation's own envelope.
  const struct {
    const char16_t* name;
    std::u16string data;
    HRESULT (ClientCrypto::*operation)(BSTR, BSTR, BSTR, BSTR*);
  } signing[] = {{u"SignHash", u"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=", &ClientCrypto::signHash},
                 {u"signSTRING", u"текст", &ClientCrypto::signString}};
  for (const auto& method : signing) {
    EXPECT_EQ(callByName(object.get(), method.name, {method.data, thumbprint, u"1234"}, &result), S_OK);
    EXPECT_TRUE(tvtest::parseEnvelope(Bstr(result).get()).success) << std::string(result.begin(), result.end());
    EXPECT_EQ(callByName(object.get(), method.name, {method.data, u"0000", u""}, &result), S_OK);
    Bstr data(method.data), unknown(u"0000"), refused;
    (ClientCrypto().*method.operation)(data.get(), unknown.get(), nullptr, refused.out());
    EXPECT_EQ(result, refused.text());
  }
  EXPECT_EQ(callByName(object.get(), u"showMessageBox", {u"x"}), DISP_E_UNKNOWNNAME);
}

}  // namespace
