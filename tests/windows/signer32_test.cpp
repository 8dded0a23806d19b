// Checks what only the real Windows build shows and a script cannot see: the
// object made by the COM runtime from the registration, each method reached
// through its own vtable slot with the real calling convention, and the
// envelope of a certificate whose private key the platform cannot reach.
// (The behaviour behind the slots is tested on Linux from the same sources.)
//
//   signer32_test <thumbprint>...
//
// The DLL is registered; each thumbprint names a certificate of the personal
// store whose private key the platform cannot reach. Prints a line per failed
// check and a last line with their count, which is also the exit code.
#include <windows.h>
#include <ole2.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

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

int failures = 0;

void check(bool ok, const char* what, int line) {
  if (ok) return;
  ++failures;
  std::printf("FAIL (line %d): %s\n", line, what);
}
#define CHECK(condition) check((condition), #condition, __LINE__)

// An owned automation string.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

// The text a call stored, in the thread's code page; the string is freed.
std::string take(BSTR value) {
  std::string text = fromBstr(value);
  SysFreeString(value);
  return text;
}

bool startsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

const Bstr kDigest(L"MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=");

// Every slot with its arguments in their places: a missing required one is
// refused, an unknown thumbprint gives a failure envelope, the list succeeds.
void checkSlots(ISigner32* signer) {
  const Bstr thumb(L"0000000000000000000000000000000000000000"), text(L"text");
  using Sign = HRESULT (STDMETHODCALLTYPE ISigner32::*)(BSTR, BSTR, BSTR, BSTR*);
  for (Sign sign : {&ISigner32::signHash, &ISigner32::signString}) {
    const BSTR first = sign == &ISigner32::signHash ? static_cast<BSTR>(kDigest) : static_cast<BSTR>(text);
    BSTR out = nullptr;
    CHECK((signer->*sign)(nullptr, thumb, nullptr, &out) == E_INVALIDARG);
    CHECK((signer->*sign)(first, nullptr, nullptr, &out) == E_INVALIDARG);
    CHECK((signer->*sign)(first, thumb, nullptr, nullptr) == E_INVALIDARG);
    CHECK((signer->*sign)(first, thumb, nullptr, &out) == S_OK);
    CHECK(startsWith(take(out), "{\"success\":false,\"result\":\"Exception has been thrown"));
  }
  CHECK(signer->getCertListAsJson(nullptr, nullptr) == E_INVALIDARG);
  BSTR list = nullptr;
  CHECK(signer->getCertListAsJson(nullptr, &list) == S_OK);
  CHECK(startsWith(take(list), "{\"success\":true,\"result\":[{"));
  CHECK(signer->showMessage(text) == S_OK);  // without a display the box returns at once
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
  HCRYPTPROV provider = 0;
  DWORD keySpec = 0;
  BOOL mustRelease = FALSE;
  const BOOL reached = certificate != nullptr &&
                       CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec, &mustRelease);
  const DWORD code = GetLastError();
  CHECK(certificate != nullptr && !reached);
  if (certificate != nullptr) CertFreeCertificateContext(certificate);
  CertCloseStore(store, 0);
  if (certificate == nullptr || reached) return;
  const std::string expected = ClientCrypto::errorWithString(Crypto::Error(code).what());
  std::printf("Private key of %s: error 0x%08lX, \"%s\"\n", thumbprint, code, Crypto::Error(code).what());

  const Bstr thumb(std::wstring(thumbprint, thumbprint + 40)), text(L"text");
  BSTR out = nullptr;
  CHECK(signer->signHash(kDigest, thumb, nullptr, &out) == S_OK && take(out) == expected);
  CHECK(signer->signString(text, thumb, nullptr, &out) == S_OK && take(out) == expected);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out before a crash
  CHECK(CoInitialize(nullptr) == S_OK);
  ISigner32* signer = nullptr;
  CHECK(CoCreateInstance(kClsidSigner32, nullptr, CLSCTX_INPROC_SERVER, kIidSigner32,
                         reinterpret_cast<void**>(&signer)) == S_OK);
  if (signer != nullptr) {
    checkSlots(signer);
    for (int i = 1; i < argc; ++i) checkUnreachableKey(signer, argv[i]);
    CHECK(signer->Release() == 0);
  }
  CoUninitialize();
  std::printf("failures: %d\n", failures);
  return failures;
}
