// The user's personal store and key containers: making, adding and
// removing signing identities.
#pragma once

#include <string>

namespace tool {

struct NewKeyRequest {
  std::string commonName = "Tellvane user";
  std::string organization;
  std::string container;           // empty: named after the thumbprint
  std::string parameterSet = "A";  // "A" (1.2.643.2.2.35.1) or "XA" (1.2.643.2.2.36.0)
  std::string pin;                 // empty: the key is stored unencrypted
};

struct NewKey {
  std::string container;
  std::string thumbprint;
};

// Throws std::runtime_error with the reason when the platform refuses.
NewKey makeSigningIdentity(const NewKeyRequest& request);

// Adds a DER certificate to the user's personal store, which keeps it; one
// that is there already is left as it is. A container names the
// certificate's key (its CERT_KEY_PROV_INFO_PROP_ID); empty, the key is
// left as it was.
// Throws std::runtime_error with the platform's code when refused.
void addToPersonalStore(const std::string& der, const std::string& container = "");

// "key-" and the thumbprint's first 16 digits: a new container's name.
std::string containerNameFor(const std::string& thumbprint);

// "what (error 0x80090016 Keyset does not exist)" with the last error.
std::string platformError(const std::string& what);

}  // namespace tool
