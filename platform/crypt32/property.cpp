// Context properties. The stand-in keeps two: the SHA-1 hash of the
// encoding (the certificate's thumbprint, read only) and the link to the
// certificate's private key (see keylink.h).
#include "crypt32/certcontext.h"
#include "crypt32/keylink.h"
#include "internal/win32call.h"

#include <wincrypt.h>

WINCRYPT32API BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                            void* pvData, DWORD* pcbData) {
  return tv::win32Bool([&] {
    const tv::Thumbprint& hash = tv::certificateSha1(pCertContext);  // checks the context first
    tv::require(pcbData != nullptr);
    if (dwPropId == CERT_SHA1_HASH_PROP_ID) return tv::copyOut(hash.data(), static_cast<DWORD>(hash.size()), pvData, pcbData);
    if (dwPropId != CERT_KEY_PROV_INFO_PROP_ID) tv::fail(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    const std::optional<tv::KeyLink> link = tv::readKeyLink(pCertContext);
    if (!link) tv::fail(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    tv::copyOutKeyLink(*link, pvData, pcbData);
  });
}

WINCRYPT32API BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                            DWORD dwFlags, const void* pvData) {
  return tv::win32Bool([&] {
    tv::requireCertificateContext(pCertContext);
    if (dwPropId != CERT_KEY_PROV_INFO_PROP_ID) tv::fail(static_cast<DWORD>(E_INVALIDARG));
    (void)dwFlags;  // CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG and the like: the link is always kept
    if (pvData == nullptr) return tv::writeKeyLink(pCertContext, nullptr);
    const tv::KeyLink link = tv::keyLinkOf(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
    tv::writeKeyLink(pCertContext, &link);
  });
}
