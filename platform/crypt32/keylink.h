// A certificate's CERT_KEY_PROV_INFO_PROP_ID, the link to its private key:
// the provider type and name, the container and the key spec. A store's
// certificate keeps it in the store's folder, in properties/<THUMBPRINT>.key,
// a text of UTF-8 lines:
//   tellvane key link 1
//   type 75
//   provider <name, or nothing for the provider of the type>
//   container <name>
//   keyspec 1
//   flags 0
// A certificate in no store keeps it in memory, as long as its context.
#pragma once

#include <wincrypt.h>

#include <optional>
#include <string>

namespace tv {

struct KeyLink {
  DWORD providerType = 0;
  std::u16string provider;  // empty: the provider of the type
  std::u16string container;
  DWORD keySpec = 0;
  DWORD flags = 0;
};

// The property as a caller hands it in; fails with E_INVALIDARG for what
// cannot be kept (no container, a line break in a name, provider
// parameters).
KeyLink keyLinkOf(const CRYPT_KEY_PROV_INFO& info);

// The two-call protocol for the property: a CRYPT_KEY_PROV_INFO with its
// strings after it, in the caller's buffer.
void copyOutKeyLink(const KeyLink& link, void* out, DWORD* ioSize);

// The certificate's link, or nothing when it has none (or its file is
// damaged: it is then found again as if it had none).
std::optional<KeyLink> readKeyLink(PCCERT_CONTEXT certificate);

// Keeps (or, with null, forgets) the certificate's link. Fails with
// ERROR_ACCESS_DENIED for a store opened read-only, unless `upkeep`: the
// platform's own record of a link it found.
void writeKeyLink(PCCERT_CONTEXT certificate, const KeyLink* link, bool upkeep = false);

// Forgets the link of a certificate taken out of the store in `folder`.
void removeKeyLinkFile(const std::string& folder, PCCERT_CONTEXT certificate);

}  // namespace tv
