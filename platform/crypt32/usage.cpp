// Enhanced key usage: the OIDs of the certificate's extended key usage
// extension, laid out in the caller's buffer as one CERT_ENHKEY_USAGE
// record followed by its pointer array and its strings.
#include "crypt32/certcontext.h"
#include "internal/gnutls_handles.h"
#include "internal/win32call.h"

#include <wincrypt.h>

#include <cstring>
#include <optional>

namespace tv {

namespace {

// The stand-in keeps no usage property, so only the extension counts.
constexpr DWORD kPropertyOnly = 0x4;  // CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG

// The usage OIDs, or nothing when the certificate has no such extension.
std::optional<std::vector<std::string>> usageOids(PCCERT_CONTEXT context) {
  X509Crt crt;
  gnutls_datum_t der = borrowedDatum(context->pbCertEncoded, context->cbCertEncoded);
  if (int result = gnutls_x509_crt_import(crt, &der, GNUTLS_X509_FMT_DER); result < 0) fail(asn1Error(result));
  std::vector<std::string> oids;
  for (unsigned index = 0;; ++index) {
    char oid[128];
    size_t size = sizeof oid;
    int result = gnutls_x509_crt_get_key_purpose_oid(crt, index, oid, &size, nullptr);
    if (result == GNUTLS_E_REQUESTED_DATA_NOT_AVAILABLE) break;
    if (result < 0) fail(asn1Error(result));
    oids.emplace_back(oid);
  }
  if (oids.empty()) return std::nullopt;
  return oids;
}

void getUsage(PCCERT_CONTEXT context, DWORD flags, PCERT_ENHKEY_USAGE usage, DWORD* size) {
  requireCertificateContext(context);
  require(size != nullptr);
  std::optional<std::vector<std::string>> oids;
  if (!(flags & kPropertyOnly)) oids = usageOids(context);
  const std::vector<std::string> none;
  const std::vector<std::string>& list = oids ? *oids : none;

  size_t required = sizeof(CERT_ENHKEY_USAGE) + list.size() * sizeof(LPSTR);
  for (const std::string& oid : list) required += oid.size() + 1;
  if (usage == nullptr) {
    *size = static_cast<DWORD>(required);
  } else if (*size < required) {
    *size = static_cast<DWORD>(required);
    fail(ERROR_MORE_DATA);
  } else {
    auto* pointers = reinterpret_cast<LPSTR*>(usage + 1);
    auto* text = reinterpret_cast<char*>(pointers + list.size());
    usage->cUsageIdentifier = static_cast<DWORD>(list.size());
    usage->rgpszUsageIdentifier = list.empty() ? nullptr : pointers;
    for (size_t i = 0; i < list.size(); ++i) {
      pointers[i] = text;
      std::memcpy(text, list[i].c_str(), list[i].size() + 1);
      text += list[i].size() + 1;
    }
    *size = static_cast<DWORD>(required);
  }
  // Without a usage the certificate is good for every use, which Windows
  // tells by CRYPT_E_NOT_FOUND as the last error of a successful call.
  SetLastError(oids ? ERROR_SUCCESS : static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

}  // namespace

}  // namespace tv

WINCRYPT32API BOOL WINAPI CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags,
                                                  PCERT_ENHKEY_USAGE pUsage, DWORD* pcbUsage) {
  return tv::win32Bool([&] { tv::getUsage(pCertContext, dwFlags, pUsage, pcbUsage); });
}
