// One handle of a cryptographic service provider: acquired by provider name
// or for a certificate's private key, released when the context ends.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace Crypto {
class X509Certificate;
}

class CspContext {
 public:
  // Note the order: provider name first, then container (may be null).
  CspContext(const std::string& provName, const char* container, DWORD provType, DWORD flags);
  // The context of the certificate's private key.
  explicit CspContext(const Crypto::X509Certificate& certificate);
  ~CspContext();
  CspContext(const CspContext&) = delete;
  CspContext& operator=(const CspContext&) = delete;

  // Hashes are made on this handle, so the context must outlive them.
  HCRYPTPROV handle() const { return handle_; }

  // The provider's key containers, in the provider's order; an error ends
  // the list without being reported.
  std::vector<std::string> getContainerList() const;
  // Hands the key-exchange PIN to the provider, as its bytes and a zero.
  void setPinCode(const std::string& pin);

 private:
  HCRYPTPROV handle_ = 0;
};
