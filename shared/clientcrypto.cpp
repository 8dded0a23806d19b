#include "shared/clientcrypto.h"

#include "common/exceptions.h"
#include "common/jsonescape.h"
#include "common/memoryoutputstream.h"
#include "common/wide.h"
#include "csp++/certificatestore.h"
#include "csp++/cryptoutils.h"
#include "csp++/cspcontext.h"
#include "csp++/signtuple.h"
#include "csp++/x509certificate.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

namespace {

// The envelope's pieces in their fixed order, with no white space.
std::string envelope(bool success, const std::string& value) {
  return "{" + ClientCrypto::quoteString("success") + ":" + (success ? "true" : "false") + "," +
         ClientCrypto::quoteString("result") + ":" + value + "}";
}

// The framework's error object for the platform's last error.
[[noreturn]] void raiseLastError() {
  DWORD code = GetLastError();
  throw ComError(code == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(code));
}

}  // namespace

BSTR toBstr(const std::string& text) {
  if (text.size() > static_cast<size_t>(INT_MAX)) throw ComError(E_OUTOFMEMORY);
  int length = static_cast<int>(text.size());
  std::basic_string<WCHAR> wide;
  if (length != 0) {
    int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    if (needed == 0) raiseLastError();
    wide.resize(static_cast<size_t>(needed));
    int converted = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, wide.data(), needed);
    if (converted == 0) raiseLastError();
    wide.resize(static_cast<size_t>(converted));
  }
  BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (result == nullptr) throw ComError(E_OUTOFMEMORY);
  return result;
}

std::string fromBstr(BSTR value) {
  if (value == nullptr) return std::string();
  // A length of -1 stops at the first zero character and counts it.
  std::string narrow(64, '\0');
  for (;;) {
    int converted = WideCharToMultiByte(CP_THREAD_ACP, 0, value, -1, narrow.data(),
                                        static_cast<int>(narrow.size()), nullptr, nullptr);
    if (converted > 0) {
      narrow.resize(static_cast<size_t>(converted) - 1);
      return narrow;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) raiseLastError();
    int needed = WideCharToMultiByte(CP_THREAD_ACP, 0, value, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) raiseLastError();
    narrow.assign(static_cast<size_t>(needed), '\0');
  }
}

std::string ClientCrypto::quoteString(const std::string& text) { return "\"" + Sys::escapeJson(text) + "\""; }

std::string ClientCrypto::successWithJson(const std::string& value) { return envelope(true, value); }

std::string ClientCrypto::successWithString(const std::string& text) { return envelope(true, quoteString(text)); }

std::string ClientCrypto::errorWithString(const std::string& message) {
  Sys::trace("ClientCrypto::errorWithString");
  const std::string errorSummary = message.empty() ? "Unknown error" : message;
  return envelope(false, quoteString(errorSummary));
}

std::vector<BYTE> ClientCrypto::toUtf8(const WCHAR* text) {
  if (text == nullptr) throw Sys::OsError(__FILE__, __LINE__, "Invalid pointer");
  size_t count = std::char_traits<WCHAR>::length(text);
  if (count > static_cast<size_t>(INT_MAX)) throw Sys::OsError(ERROR_ARITHMETIC_OVERFLOW, __FILE__, __LINE__);
  int length = static_cast<int>(count);
  int needed = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  Sys::checkWin32(needed, __FILE__, __LINE__);
  std::vector<BYTE> bytes(static_cast<size_t>(needed));
  int converted = WideCharToMultiByte(CP_UTF8, 0, text, length, reinterpret_cast<LPSTR>(bytes.data()), needed,
                                      nullptr, nullptr);
  Sys::checkWin32(converted, __FILE__, __LINE__);
  bytes.resize(static_cast<size_t>(converted));
  return bytes;
}

bool ClientCrypto::present(BSTR* result, std::initializer_list<const void*> required) {
  if (result == nullptr) return false;
  for (const void* pointer : required)
    if (pointer == nullptr) return false;
  return true;
}

HRESULT ClientCrypto::reportFailure(BSTR* result, const char* what) noexcept {
  try {
    std::string message;
    if (what != nullptr) {
      Sys::traceFormat("Error: %s", what);
      message = what;
    } else {
      Sys::trace("Unspecified error");
      message = "Unspecified error";
    }
    *result = toBstr(errorWithString(message));
    return S_OK;
  } catch (const ComError& error) {
    // Not even the error envelope could be made: the caller gets the code alone.
    return error.code();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

// ---- The certificate list ----

HRESULT ClientCrypto::getCertListAsJson(BSTR pin, BSTR* rv) {
  (void)pin;  // accepted and never read
  return runOperation("ClientCrypto::getCertListAsJson", "Invalid arg", {}, rv, [](std::string& envelope) {
    Sys::trace("Opening the certificate store....");
    Crypto::CertificateStore store(WSTR("MY"), false, true);
    Sys::trace("Getting certificate list...");
    std::vector<Crypto::X509Certificate> certificates = store.enumCertificates(Crypto::acceptAnyCertificate);
    if (certificates.empty()) {
      Sys::trace("...no one cert found");
      envelope = successWithJson("[]");
      return S_FALSE;
    }
    Sys::trace("Making JSON array of certificates...");
    std::string array = "[";
    for (size_t index = 0; index < certificates.size(); ++index) {
      Sys::trace("5");
      array += certificates[index].toJson();
      array += ",";
    }
    array = array.substr(0, array.size() - 1) + "]";
    Sys::trace(array);
    Sys::trace("Wrapping up...");
    envelope = successWithJson(array);
    return S_OK;
  });
}

// ---- Digest and string signing ----

namespace {

// The signer's certificate in the open store; its absence is an error, raised
// at the line of the operation that asked, so that its text tells the two
// operations apart.
Crypto::X509Certificate findSigner(const Crypto::CertificateStore& store, const std::string& thumbprint, int line) {
  Sys::trace("Looking for given certificate...");
  Crypto::X509Certificate certificate = store.findByThumbprint(thumbprint);
  if (certificate.isEmpty()) {
    Sys::trace("Certificate wasnt found");
    throw Sys::OsError(__FILE__, line, "Certificate wasnt found");
  }
  return certificate;
}

// Packs the signature and the certificate into a sign tuple, encodes it and
// wraps it in the success envelope.
std::string signTupleEnvelope(const std::vector<BYTE>& signature, const Crypto::X509Certificate& certificate) {
  Sys::trace("Saving everything to stream...");
  Sys::MemoryOutputStream stream;
  Aux::save_sign_tuple_to_stream(stream, signature, certificate);
  Sys::trace("Convering result to base64...");
  const std::string encoded = base64Encode(stream.data(), static_cast<DWORD>(stream.size()));
  Sys::trace("Wrap all");
  return ClientCrypto::successWithString(encoded);
}

// Finds the certificate of the thumbprint, reaches its private key, and packs
// what sign() makes with a hash on that key's context. The hash ends inside
// sign(), before the context is released. line is the calling operation's own,
// for a missing certificate.
std::string signedEnvelope(BSTR certThumb, int line, const std::function<std::vector<BYTE>(HCRYPTPROV)>& sign) {
  Sys::trace("Converting certificate thumbprint...");
  const std::string thumbprint = fromBstr(certThumb);
  Sys::trace("Opening certificate store...");
  Crypto::CertificateStore store(WSTR("My"), false, true);
  const Crypto::X509Certificate certificate = findSigner(store, thumbprint, line);
  Sys::trace("Entering to certificate priv key context...");
  CspContext context(certificate);
  return signTupleEnvelope(sign(context.handle()), certificate);
}

// Feeds the UTF-8 bytes of the text to the hash a piece at a time, so that
// a long text is never held whole as UTF-8. A piece never ends between the
// two halves of a surrogate pair, so the bytes are those of the whole text:
// all of the automation string's length, zero characters included, so the
// signature never covers less than the caller asked to sign.
void hashAsUtf8(CspHash& hash, BSTR text) {
  constexpr size_t kPiece = 16 * 1024;
  const size_t length = SysStringLen(text);
  std::vector<char> bytes(kPiece * 3);  // a unit gives at most three bytes, a pair four
  for (size_t begin = 0; begin < length;) {
    size_t end = begin + std::min(kPiece, length - begin);
    if (end < length && IS_HIGH_SURROGATE(text[end - 1]) && IS_LOW_SURROGATE(text[end])) --end;
    const int converted = WideCharToMultiByte(CP_UTF8, 0, text + begin, static_cast<int>(end - begin), bytes.data(),
                                              static_cast<int>(bytes.size()), nullptr, nullptr);
    Sys::checkWin32(converted, __FILE__, __LINE__);
    hash.hashData(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(converted));
    begin = end;
  }
}

}  // namespace

HRESULT ClientCrypto::signHash(BSTR encodedHash, BSTR certThumb, BSTR /*pinCode*/, BSTR* encodedSignature) {
  return runOperation("ClientCrypto::signHash", "Invalid argument", {encodedHash, certThumb}, encodedSignature,
                      [&](std::string& envelope) {
                        Sys::trace("Decode hash...");
                        const std::vector<BYTE> digest = base64Decode(fromBstr(encodedHash));
                        envelope = signedEnvelope(certThumb, __LINE__, [&](HCRYPTPROV provider) {
                          Sys::trace("Import digest value into CSP..");
                          CspHash hash(provider, CALG_GR3411);
                          hash.setHashValue(digest.data(), static_cast<DWORD>(digest.size()));
                          Sys::trace("Signing the existing hash...");
                          return hash.sign(AT_KEYEXCHANGE);
                        });
                        return S_OK;
                      });
}

HRESULT ClientCrypto::signString(BSTR astr, BSTR certThumb, BSTR /*pinCode*/, BSTR* encodedSignature) {
  return runOperation("ClientCrypto::signString", "Invalid argument", {astr, certThumb}, encodedSignature,
                      [&](std::string& envelope) {
                        envelope = signedEnvelope(certThumb, __LINE__, [&](HCRYPTPROV provider) {
                          Sys::trace("Calculating digest");
                          if (SysStringLen(astr) == 0) ClientCrypto::toUtf8(astr);  // raises the conversion's error
                          CspHash hash(provider, CALG_GR3411);
                          hashAsUtf8(hash, astr);
                          Sys::trace("Signing the  digest...");
                          return hash.sign(AT_KEYEXCHANGE);
                        });
                        return S_OK;
                      });
}
