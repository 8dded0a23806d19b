// Checks what only the real Windows build shows and a script cannot see: the
// object made by the COM runtime from the registration, each method reached
// through its own vtable slot with the real calling convention, signatures
// made through those slots, and the envelope of a failure that the platform
// reports with its own code. (The behaviour behind the slots is tested on
// Linux from the same sources.)
//
//   signer32_test sign <thumbprint> <digest>
//   signer32_test refuse <thumbprint> <code>
//
// The DLL is registered. "sign" checks the slots and signs with the
// certificate of the thumbprint the texts the script test signs and the
// digest, printing each sign tuple as "TUPLE <name> <Base64>", and prints
// the help strings of the type library. "refuse"
// checks that the platform's own steps of a signature (the private key
// reached, the hash made and given the digest, the signature) first fail
// with that code (hexadecimal), and both methods with the envelope of it.
// Prints a line per failed check and a last line with their count, which is
// also the exit code.
#include <windows.h>
#include <ole2.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The help strings of ISigner32's methods as the registered type library
// gives them, printed as "HELP <dispatch id> <text>" in UTF-8 for the caller
// to compare with the .idl: stored in 8 bits, they are read back in the
// system's ANSI code page.
void printHelpStrings() {
  ITypeLib* library = nullptr;
  ITypeInfo* info = nullptr;
  const GUID kLibid = {0xB3E86A9F, 0xCCCC, 0x4605, {0x8B, 0xB5, 0x37, 0x9E, 0x06, 0x2A, 0xA7, 0x21}};
  CHECK(LoadRegTypeLib(kLibid, 1, 0, LOCALE_USER_DEFAULT, &library) == S_OK);
  if (library != nullptr && library->GetTypeInfoOfGuid(kIidSigner32, &info) == S_OK) {
    for (MEMBERID id = 1; id <= 4; ++id) {
      BSTR help = nullptr;
      CHECK(info->GetDocumentation(id, nullptr, &help, nullptr, nullptr) == S_OK);
      char text[256] = {};
      WideCharToMultiByte(CP_UTF8, 0, help, -1, text, sizeof text - 1, nullptr, nullptr);
      std::printf("HELP %ld %s\n", static_cast<long>(id), text);
      SysFreeString(help);
    }
    info->Release();
  }
  if (library != nullptr) library->Release();
}

// The texts of signing.txt, as signer32.js builds them.
const wchar_t kShortText[] = L"\u0414\u043e\u0433\u043e\u0432\u043e\u0440 \u21161 \u043e\u0442 7 "
                             L"\u0434\u0435\u043a\u0430\u0431\u0440\u044f \u2014 "
                             L"\u043f\u043e\u0434\u043f\u0438\u0441\u044c \U0001F600";
std::wstring mebibyteText() {
  std::wstring text;
  for (int i = 0; i < 65536; ++i) text += L"\u0416\u04360123456789a\n";
  return text;
}

// Prints the sign tuple of a success envelope.
void printTuple(const char* name, HRESULT status, BSTR out) {
  const std::string envelope = status == S_OK ? take(out) : std::string();
  const std::string start = "{\"success\":true,\"result\":\"";
  const bool signed_ = startsWith(envelope, start.c_str()) && envelope.size() > start.size() + 2 &&
                       envelope.compare(envelope.size() - 2, 2, "\"}") == 0;
  check(signed_, (std::string(name) + ": " + envelope).c_str(), __LINE__);
  if (signed_) std::printf("TUPLE native-%s %s\n", name, envelope.substr(start.size(), envelope.size() - start.size() - 2).c_str());
}

void sign(ISigner32* signer, const Bstr& thumb, const Bstr& digest) {
  const Bstr text(kShortText), mebibyte(mebibyteText()), empty(L"");
  BSTR out = nullptr;
  HRESULT status = signer->signString(text, thumb, nullptr, &out);
  printTuple("text", status, out);
  status = signer->signString(mebibyte, thumb, nullptr, &out);
  printTuple("mebibyte", status, out);
  status = signer->signHash(digest, thumb, nullptr, &out);
  printTuple("digest", status, out);
  CHECK(signer->signString(empty, thumb, nullptr, &out) == S_OK &&
        startsWith(take(out), "{\"success\":false,\"result\":\"Exception has been thrown in file "));
}

// The code of the first of the platform's steps of a signature that fails,
// as the component takes them; 0 when all succeed.
DWORD firstFailure(const char* thumbprint) {
  std::vector<BYTE> hash(20);
  for (size_t i = 0; i < hash.size(); ++i) std::sscanf(thumbprint + 2 * i, "%2hhx", &hash[i]);
  HCERTSTORE store = CertOpenSystemStoreW(0, L"MY");
  CRYPT_HASH_BLOB blob = {static_cast<DWORD>(hash.size()), hash.data()};
  PCCERT_CONTEXT certificate =
      CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
  HCRYPTPROV provider = 0;
  HCRYPTHASH digest = 0;
  DWORD keySpec = 0, size = 0;
  BOOL mustRelease = FALSE;
  const BYTE value[32] = {1};
  const BOOL signed_ =
      certificate != nullptr &&
      CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec, &mustRelease) &&
      CryptCreateHash(provider, 0x801E, 0, 0, &digest) && CryptSetHashParam(digest, HP_HASHVAL, value, 0) &&
      CryptSignHashA(digest, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size);
  const DWORD code = signed_ ? 0 : GetLastError();
  CHECK(certificate != nullptr);
  if (digest != 0) CryptDestroyHash(digest);
  if (provider != 0) CryptReleaseContext(provider, 0);
  if (certificate != nullptr) CertFreeCertificateContext(certificate);
  CertCloseStore(store, 0);
  return code;
}

// Both methods fail with the envelope of the platform's code.
void refuse(ISigner32* signer, const char* thumbprint, DWORD code) {
  const DWORD found = firstFailure(thumbprint);
  std::printf("Signing with %s: error 0x%08lX, \"%s\"\n", thumbprint, found, Crypto::Error(found).what());
  CHECK(found == code);
  const std::string expected = ClientCrypto::errorWithString(Crypto::Error(code).what());
  const Bstr thumb(std::wstring(thumbprint, thumbprint + std::strlen(thumbprint))), text(L"text");
  BSTR out = nullptr;
  CHECK(signer->signHash(kDigest, thumb, nullptr, &out) == S_OK && take(out) == expected);
  CHECK(signer->signString(text, thumb, nullptr, &out) == S_OK && take(out) == expected);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out before a crash
  const std::string mode = argc == 4 ? argv[1] : "";
  if (mode != "sign" && mode != "refuse") {
    std::fprintf(stderr, "usage: signer32_test (sign <thumbprint> <digest> | refuse <thumbprint> <code>)\n");
    return 2;
  }
  CHECK(CoInitialize(nullptr) == S_OK);
  ISigner32* signer = nullptr;
  CHECK(CoCreateInstance(kClsidSigner32, nullptr, CLSCTX_INPROC_SERVER, kIidSigner32,
                         reinterpret_cast<void**>(&signer)) == S_OK);
  if (signer != nullptr) {
    checkSlots(signer);
    const std::string thumbprint = argv[2], argument = argv[3];
    if (mode == "sign") {
      printHelpStrings();
      sign(signer, Bstr(std::wstring(thumbprint.begin(), thumbprint.end())),
           Bstr(std::wstring(argument.begin(), argument.end())));
    } else {
      refuse(signer, argv[2], std::strtoul(argv[3], nullptr, 16));
    }
    CHECK(signer->Release() == 0);
  }
  CoUninitialize();
  std::printf("failures: %d\n", failures);
  return failures;
}
