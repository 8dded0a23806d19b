// Context properties. The stand-in keeps one: the SHA-1 hash of the
// encoding, the certificate's thumbprint.
#include "crypt32/certcontext.h"
#include "internal/win32call.h"

#include <wincrypt.h>

WINCRYPT32API BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                            void* pvData, DWORD* pcbData) {
  return tv::win32Bool([&] {
    const tv::Thumbprint& hash = tv::certificateSha1(pCertContext);  // checks the context first
    tv::require(pcbData != nullptr);
    if (dwPropId != CERT_SHA1_HASH_PROP_ID) tv::fail(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    tv::copyOut(hash.data(), static_cast<DWORD>(hash.size()), pvData, pcbData);
  });
}
