// One open system certificate store, for the lifetime of one client
// operation: its certificates in the platform's order, and the search by
// thumbprint.
#pragma once

#include "csp++/x509certificate.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace Crypto {

// Keeps a certificate (true) or leaves it out (false).
typedef bool (*CertificateFilter)(const X509Certificate& certificate);

// The filter that keeps every certificate.
bool acceptAnyCertificate(const X509Certificate& certificate);

class CertificateStore {
 public:
  // Opens an existing system store of the current user (or of the machine);
  // a store that cannot be opened raises Crypto::Error with the platform's code.
  CertificateStore(const WCHAR* name, bool localMachine, bool readOnly);
  ~CertificateStore();
  CertificateStore(const CertificateStore&) = delete;
  CertificateStore& operator=(const CertificateStore&) = delete;

  // The open handle, borrowed.
  HCERTSTORE handle() const;

  // Every certificate the filter keeps, in the platform's enumeration order.
  std::vector<X509Certificate> enumCertificates(CertificateFilter filter) const;

  // The first certificate whose thumbprint equals the text byte for byte (40
  // upper-case hexadecimal digits), or an empty certificate. An empty text
  // raises std::invalid_argument "No thumbprint".
  X509Certificate findByThumbprint(const std::string& thumbprint) const;

 private:
  HCERTSTORE store_;
};

}  // namespace Crypto
