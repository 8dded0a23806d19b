#include "csp++/certificatestore.h"

#include "common/exceptions.h"
#include "common/trace.h"

#include <stdexcept>

namespace Crypto {

bool acceptAnyCertificate(const X509Certificate&) { return true; }

CertificateStore::CertificateStore(const WCHAR* name, bool localMachine, bool readOnly) : store_(nullptr) {
  Sys::trace("Crypto::CertificateStore::CertificateStore");
  DWORD flags = CERT_STORE_OPEN_EXISTING_FLAG;
  if (readOnly) flags |= CERT_STORE_READONLY_FLAG;
  flags |= localMachine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
  store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, name);
  check(store_ != nullptr);
}

CertificateStore::~CertificateStore() {
  CertCloseStore(store_, 0);
  Sys::trace("Crypto::CertificateStore::~CertificateStore");
}

HCERTSTORE CertificateStore::handle() const { return store_; }

std::vector<X509Certificate> CertificateStore::enumCertificates(CertificateFilter filter) const {
  Sys::trace("CertificateStore::enumCertificates");
  std::vector<X509Certificate> result;
  PCCERT_CONTEXT context = CertEnumCertificatesInStore(store_, nullptr);
  try {
    while (context != nullptr) {
      X509Certificate certificate(context);
      if (filter(certificate)) {
        Sys::trace("...certificate added.");
        result.push_back(certificate);
      }
      // The platform releases the context passed in.
      context = CertEnumCertificatesInStore(store_, context);
    }
  } catch (...) {
    // The context in hand when the filter or a copy fails is given back too.
    if (context != nullptr) CertFreeCertificateContext(context);
    throw;
  }
  return result;
}

X509Certificate CertificateStore::findByThumbprint(const std::string& thumbprint) const {
  if (thumbprint.empty()) throw std::invalid_argument("No thumbprint");
  const std::vector<X509Certificate> certificates = enumCertificates(acceptAnyCertificate);
  for (const X509Certificate& certificate : certificates)
    if (certificate.thumbprint() == thumbprint) return certificate;
  return X509Certificate();
}

}  // namespace Crypto
