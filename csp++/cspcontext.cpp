#include "csp++/cspcontext.h"

#include <algorithm>

#include "common/exceptions.h"
#include "common/trace.h"
#include "csp++/x509certificate.h"

namespace {

// Argument errors are raised as the bare platform code, not as an exception
// object; the client operations report them as "Unspecified error".
constexpr long kInvalidParameter = 87;

constexpr DWORD kContainerNameBuffer = 300;

}  // namespace

CspContext::CspContext(const std::string& provName, const char* container, DWORD provType, DWORD flags) {
  Sys::trace("CspContext::CspContext (with provName)");
  if (provName.empty()) throw kInvalidParameter;
  Crypto::check(CryptAcquireContextA(&handle_, container, provName.c_str(), provType, flags));
}

CspContext::CspContext(const Crypto::X509Certificate& certificate) {
  Sys::trace("CspContext::CspContext (with cert and priv key)");
  if (certificate.isEmpty()) throw kInvalidParameter;
  DWORD keySpec = 0;
  BOOL mustRelease = FALSE;
  Crypto::check(CryptAcquireCertificatePrivateKey(certificate.getContext(), 0, nullptr, &handle_, &keySpec,
                                                  &mustRelease));
}

CspContext::~CspContext() {
  CryptReleaseContext(handle_, 0);
  Sys::trace("CspContext::~CspContext");
}

std::vector<std::string> CspContext::getContainerList() const {
  Sys::trace("CspContext::getContainerList");
  std::vector<std::string> names;
  BYTE name[kContainerNameBuffer] = {};
  DWORD length = kContainerNameBuffer;
  DWORD flags = CRYPT_FIRST;
  while (CryptGetProvParam(handle_, PP_ENUMCONTAINERS, name, &length, flags)) {
    // The provider writes the terminating zero; the last byte stays zero
    // whatever it wrote, so the text always ends inside the buffer.
    name[kContainerNameBuffer - 1] = 0;
    names.emplace_back(reinterpret_cast<const char*>(name));
    std::fill(name, name + kContainerNameBuffer, 0);
    length = kContainerNameBuffer;
    flags = CRYPT_NEXT;
  }
  return names;
}

void CspContext::setPinCode(const std::string& pin) {
  Sys::trace("CspContext::setPinCode");
  if (pin.empty()) throw kInvalidParameter;
  Crypto::check(CryptSetProvParam(handle_, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>(pin.c_str()), 0));
}
