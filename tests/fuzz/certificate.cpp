// Certificate loading and name rendering: any DER is refused or gives a
// certificate whose names, dates and list entry can all be rendered.
#include "csp++/x509certificate.h"

#include <cstdint>
#include <exception>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  try {
    const Crypto::X509Certificate certificate(std::vector<BYTE>(data, data + size));
    certificate.thumbprint();
    certificate.subjectFullName();
    certificate.issuerFullName();
    certificate.subjectCommonName();
    certificate.issuerCommonName();
    certificate.notBefore();
    certificate.getOids();
    certificate.toJson();
  } catch (const std::exception&) {
  }
  return 0;
}
