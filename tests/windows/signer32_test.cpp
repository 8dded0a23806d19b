// Checks what a script cannot see of Tellvane.dll on Windows: its class
// factory, the QueryInterface rules, aggregation, IObjectSafety,
// ISupportErrorInfo, the lock count behind DllCanUnloadNow, null pointers
// given through the interface's own slots, the dispatch identifiers, and the
// error envelope of a certificate whose private key cannot be reached. (The
// script host's test calls the methods by name.)
//
//   signer32_test <Tellvane.dll> <thumbprint>...
//
// The DLL is registered (calls by name read the registered type library) and
// each thumbprint names a certificate of the personal store whose private key
// the platform cannot reach. Prints a line per failed check and a last line
// with their count, which is also the exit code.
#include <windows.h>
#include <ole2.h>
#include <objsafe.h>
#include <ocidl.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "csp++/cryptoutils.h"
#include "common/exceptions.h"
#include "shared/clientcrypto.h"

// ISigner32 as its type library describes it, declared here rather than taken
// from the component, so that slots out of order fail the calls below. (Outside
// the unnamed namespace: GCC takes calls on an interface that nothing in the
// program implements for unreachable.)
struct ISigner32 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE showMessage(BSTR msg) = 0;
  virtual HRESULT STDMETHODCALLTYPE getCertListAsJson(BSTR pin, BSTR* rv) = 0;
  virtual HRESULT STDMETHODCALLTYPE signHash(BSTR encodedHash, BSTR certThumb, BSTR pinCode,
                                             BSTR* encodedSignature) = 0;
  virtual HRESULT STDMETHODCALLTYPE signString(BSTR astr, BSTR certThumb, BSTR pinCode,
                                               BSTR* encodedSignature) = 0;
};

namespace {

const CLSID kClsidSigner32 = {0x11A0581C, 0x505A, 0x4F0C, {0x8A, 0xB3, 0xD7, 0x77, 0xBF, 0xB3, 0xC3, 0xBB}};
const IID kIidSigner32 = {0x23320927, 0x55BA, 0x438D, {0xB3, 0x1C, 0x4F, 0x63, 0x74, 0xD5, 0xE3, 0xB3}};
const IID kIidUnrelated = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

int failures = 0;

void check(bool ok, const char* what, int line) {
  if (ok) return;
  ++failures;
  std::printf("FAIL (line %d): %s\n", line, what);
}
#define CHECK(condition) check((condition), #condition, __LINE__)

// A sentinel that no call may leave in an output it must not write.
void* const kUntouched = reinterpret_cast<void*>(static_cast<INT_PTR>(0x5EED));

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

struct Module {
  HMODULE handle = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  CanUnloadNowFn canUnloadNow = nullptr;
};

// An owned automation string.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The text a call stored, in the thread's code page; the string is freed.
std::string take(BSTR value) {
  std::string text = value == kUntouched ? "<untouched>" : fromBstr(value);
  if (value != kUntouched) SysFreeString(value);
  return text;
}

IClassFactory* classFactory(const Module& module) {
  IClassFactory* factory = nullptr;
  CHECK(module.getClassObject(kClsidSigner32, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK);
  return factory;
}

void checkClassFactory(const Module& module) {
  void* out = kUntouched;
  CHECK(module.getClassObject(kIidUnrelated, IID_IClassFactory, &out) == CLASS_E_CLASSNOTAVAILABLE);
  CHECK(out == nullptr);
  CHECK(FAILED(module.getClassObject(kClsidSigner32, IID_IClassFactory, nullptr)));

  IClassFactory* factory = classFactory(module);
  IClassFactory* again = classFactory(module);
  CHECK(factory == again);  // one factory, kept for the module's lifetime
  again->Release();

  out = kUntouched;
  CHECK(factory->CreateInstance(nullptr, IID_IPersist, &out) == E_NOINTERFACE);
  CHECK(out == nullptr);
  CHECK(FAILED(factory->CreateInstance(nullptr, kIidSigner32, nullptr)));

  CHECK(factory->LockServer(TRUE) == S_OK);
  factory->Release();
  CHECK(module.canUnloadNow() == S_FALSE);
  factory = classFactory(module);
  CHECK(factory->LockServer(FALSE) == S_OK);
  factory->Release();
  CHECK(module.canUnloadNow() == S_OK);
}

ISigner32* createSigner(const Module& module) {
  IClassFactory* factory = classFactory(module);
  ISigner32* signer = nullptr;
  CHECK(factory->CreateInstance(nullptr, kIidSigner32, reinterpret_cast<void**>(&signer)) == S_OK);
  factory->Release();
  return signer;
}

IUnknown* identity(IUnknown* object) {
  IUnknown* unknown = nullptr;
  if (object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)) != S_OK) return nullptr;
  unknown->Release();
  return unknown;
}

void checkQueryInterface(ISigner32* signer) {
  IUnknown* self = identity(signer);
  CHECK(self != nullptr);
  const IID* served[] = {&kIidSigner32, &IID_IDispatch, &IID_IObjectSafety, &IID_ISupportErrorInfo};
  for (const IID* iid : served) {
    IUnknown* face = nullptr;
    CHECK(signer->QueryInterface(*iid, reinterpret_cast<void**>(&face)) == S_OK);
    if (face == nullptr) continue;
    CHECK(identity(face) == self);
    // Every interface reaches every other one.
    for (const IID* other : served) {
      IUnknown* next = nullptr;
      CHECK(face->QueryInterface(*other, reinterpret_cast<void**>(&next)) == S_OK);
      if (next != nullptr) next->Release();
    }
    face->Release();
  }
  IDispatch* dispatch = nullptr;
  CHECK(signer->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)) == S_OK);
  CHECK(dispatch == signer);
  if (dispatch != nullptr) dispatch->Release();

  const IID* refused[] = {&IID_IPersist, &IID_IClassFactory, &IID_IProvideClassInfo, &kIidUnrelated};
  for (const IID* iid : refused) {
    void* out = kUntouched;
    CHECK(signer->QueryInterface(*iid, &out) == E_NOINTERFACE);
    CHECK(out == nullptr);
  }
  CHECK(signer->QueryInterface(kIidSigner32, nullptr) == E_POINTER);

  CHECK(signer->AddRef() == 2);
  CHECK(signer->Release() == 1);
}

void checkSafetyAndErrorInfo(ISigner32* signer) {
  IObjectSafety* safety = nullptr;
  ISupportErrorInfo* errorInfo = nullptr;
  CHECK(signer->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)) == S_OK);
  CHECK(signer->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)) == S_OK);
  if (safety == nullptr || errorInfo == nullptr) return;

  const DWORD safe = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  const IID* asked[] = {&kIidSigner32, &IID_IDispatch, &kIidUnrelated};
  for (int round = 0; round < 2; ++round) {
    for (const IID* iid : asked) {
      DWORD supported = 0;
      DWORD enabled = 0;
      CHECK(safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled) == S_OK);
      CHECK(supported == safe && enabled == safe);
    }
    // Whatever is asked, nothing changes.
    CHECK(safety->SetInterfaceSafetyOptions(kIidSigner32, safe, 0) == S_OK);
    CHECK(safety->SetInterfaceSafetyOptions(kIidUnrelated, 0, safe) == S_OK);
  }

  CHECK(errorInfo->InterfaceSupportsErrorInfo(kIidSigner32) == S_OK);
  CHECK(errorInfo->InterfaceSupportsErrorInfo(IID_IObjectSafety) == S_FALSE);
  CHECK(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch) == S_FALSE);
  safety->Release();
  errorInfo->Release();
}

void checkNullPointers(ISigner32* signer) {
  Bstr hash(L"MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=");
  Bstr thumb(L"0000000000000000000000000000000000000000");
  Bstr text(L"text");
  using Sign = HRESULT (STDMETHODCALLTYPE ISigner32::*)(BSTR, BSTR, BSTR, BSTR*);
  const Sign operations[] = {&ISigner32::signHash, &ISigner32::signString};
  for (Sign sign : operations) {
    const BSTR first = sign == &ISigner32::signHash ? static_cast<BSTR>(hash) : static_cast<BSTR>(text);
    BSTR out = static_cast<BSTR>(kUntouched);
    CHECK((signer->*sign)(nullptr, thumb, nullptr, &out) == E_INVALIDARG);
    CHECK((signer->*sign)(first, nullptr, nullptr, &out) == E_INVALIDARG);
    CHECK(out == kUntouched);
    CHECK((signer->*sign)(first, thumb, nullptr, nullptr) == E_INVALIDARG);
    // A null PIN is accepted: the call reports the missing certificate.
    CHECK((signer->*sign)(first, thumb, nullptr, &out) == S_OK);
    CHECK(take(out).rfind("{\"success\":false,\"result\":\"", 0) == 0);
  }
  CHECK(signer->getCertListAsJson(nullptr, nullptr) == E_INVALIDARG);
  BSTR list = nullptr;
  CHECK(SUCCEEDED(signer->getCertListAsJson(nullptr, &list)));
  CHECK(take(list).rfind("{\"success\":true,\"result\":[", 0) == 0);
}

void checkDispatch(ISigner32* signer) {
  UINT count = 0;
  CHECK(signer->GetTypeInfoCount(&count) == S_OK && count == 1);
  const struct {
    const wchar_t* name;
    DISPID id;
  } methods[] = {{L"showMessage", 1}, {L"getCertListAsJson", 2}, {L"signHash", 3}, {L"signString", 4}};
  for (const auto& method : methods) {
    LPOLESTR name = const_cast<LPOLESTR>(method.name);
    DISPID id = DISPID_UNKNOWN;
    CHECK(signer->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id) == S_OK);
    CHECK(id == method.id);
  }
  LPOLESTR unknownName = const_cast<LPOLESTR>(L"signEverything");
  DISPID id = 0;
  CHECK(signer->GetIDsOfNames(IID_NULL, &unknownName, 1, LOCALE_USER_DEFAULT, &id) == DISP_E_UNKNOWNNAME);
}

// The envelope of a signature whose private key the platform cannot reach
// carries the platform's own text for that failure.
void checkUnreachableKey(ISigner32* signer, const char* thumbprint) {
  std::vector<BYTE> hash(20);
  for (size_t i = 0; i < hash.size(); ++i) std::sscanf(thumbprint + 2 * i, "%2hhx", &hash[i]);
  HCERTSTORE store = CertOpenSystemStoreW(0, L"MY");
  CRYPT_HASH_BLOB blob = {static_cast<DWORD>(hash.size()), hash.data()};
  PCCERT_CONTEXT certificate =
      CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
  CHECK(certificate != nullptr);
  if (certificate == nullptr) {
    CertCloseStore(store, 0);
    return;
  }
  HCRYPTPROV provider = 0;
  DWORD keySpec = 0;
  BOOL mustRelease = FALSE;
  const BOOL reached = CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec, &mustRelease);
  const DWORD code = GetLastError();
  CHECK(!reached);
  CertFreeCertificateContext(certificate);
  CertCloseStore(store, 0);
  if (reached) return;
  const std::string expected = ClientCrypto::errorWithString(Crypto::Error(code).what());
  std::printf("Private key of %s: error 0x%08lX, \"%s\"\n", thumbprint, code, Crypto::Error(code).what());

  Bstr digest(L"MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=");
  Bstr thumb(widen(thumbprint).c_str());
  Bstr text(L"text");
  BSTR out = nullptr;
  CHECK(signer->signHash(digest, thumb, nullptr, &out) == S_OK);
  CHECK(take(out) == expected);
  CHECK(signer->signString(text, thumb, nullptr, &out) == S_OK);
  CHECK(take(out) == expected);
}

// Created inside an outer object, the signer answers the same interfaces and
// hands its identity and reference counts to the outer one.
class Outer : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }  // lives on the stack

  IUnknown* inner = nullptr;
  ULONG references = 1;
};

void checkAggregation(const Module& module) {
  IClassFactory* factory = classFactory(module);
  Outer outer;
  void* out = kUntouched;
  CHECK(factory->CreateInstance(&outer, kIidSigner32, &out) == CLASS_E_NOAGGREGATION);
  CHECK(out == nullptr);
  CHECK(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)) == S_OK);
  factory->Release();
  if (outer.inner == nullptr) return;
  CHECK(module.canUnloadNow() == S_FALSE);

  // As the outer object's QueryInterface would: through the inner object's own IUnknown.
  ISigner32* signer = nullptr;
  CHECK(outer.inner->QueryInterface(kIidSigner32, reinterpret_cast<void**>(&signer)) == S_OK);
  if (signer != nullptr) {
    CHECK(outer.references == 2);
    CHECK(identity(signer) == &outer);
    IObjectSafety* safety = nullptr;
    CHECK(signer->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)) == S_OK);
    if (safety != nullptr) {
      CHECK(identity(safety) == &outer);
      safety->Release();
    }
    BSTR list = nullptr;
    CHECK(SUCCEEDED(signer->getCertListAsJson(nullptr, &list)));
    CHECK(take(list).rfind("{\"success\":true,", 0) == 0);
    signer->Release();
  }
  CHECK(outer.references == 1);
  // The inner object's own IUnknown is not delegated.
  IUnknown* innerSelf = nullptr;
  CHECK(outer.inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerSelf)) == S_OK);
  CHECK(innerSelf == outer.inner);
  if (innerSelf != nullptr) innerSelf->Release();
  CHECK(outer.inner->Release() == 0);
  CHECK(module.canUnloadNow() == S_OK);
}

// Wine has no GOST provider: the toolkit sees that, and a GOST hash object
// cannot be made on the platform's default provider.
void checkProviderAbsence() {
  HCRYPTPROV gost = 0;
  const bool acquired = CryptAcquireContextW(&gost, nullptr, nullptr, PROV_GOST_2001_DH, CRYPT_VERIFYCONTEXT);
  if (acquired) CryptReleaseContext(gost, 0);
  CHECK(isGostProviderPresent() == acquired);
  std::printf("GOST provider present: %s\n", acquired ? "yes" : "no");
  if (acquired) return;
  HCRYPTPROV provider = 0;
  CHECK(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  try {
    CspHash hash(provider, CALG_GR3411);
    check(false, "a GOST hash object made on a provider without GOST", __LINE__);
  } catch (const Crypto::Error& error) {
    CHECK(error.code() == static_cast<DWORD>(NTE_BAD_ALGID));
  }
  CryptReleaseContext(provider, 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out before a crash
  if (argc < 2) {
    std::fprintf(stderr, "usage: signer32_test <Tellvane.dll> <thumbprint>...\n");
    return 2;
  }
  Module module;
  module.handle = LoadLibraryA(argv[1]);
  if (module.handle == nullptr) {
    std::printf("FAIL: cannot load %s (%lu)\nfailures: 1\n", argv[1], GetLastError());
    return 1;
  }
  module.getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(module.handle, "DllGetClassObject")));
  module.canUnloadNow =
      reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(module.handle, "DllCanUnloadNow")));
  CHECK(module.getClassObject != nullptr && module.canUnloadNow != nullptr);
  CHECK(CoInitialize(nullptr) == S_OK);
  if (failures == 0) {
    checkClassFactory(module);
    ISigner32* signer = createSigner(module);
    if (signer != nullptr) {
      CHECK(module.canUnloadNow() == S_FALSE);
      checkQueryInterface(signer);
      checkSafetyAndErrorInfo(signer);
      checkNullPointers(signer);
      checkDispatch(signer);
      for (int i = 2; i < argc; ++i) checkUnreachableKey(signer, argv[i]);
      CHECK(signer->Release() == 0);
    }
    // Every object made above is gone: nothing holds the module.
    CHECK(module.canUnloadNow() == S_OK);
    checkAggregation(module);
    checkProviderAbsence();
  }
  CoUninitialize();
  std::printf("failures: %d\n", failures);
  return failures;
}
