// What crypt32 needs of advapi32's provider beyond its exported functions,
// for CryptAcquireCertificatePrivateKey alone. Everything else between the
// two goes through exported functions: the certificate's key property
// names the provider type and container, CryptAcquireContextW opens it,
// and CryptImportKey / CryptGetUserKey / CryptExportKey compare its key
// with the certificate's.
#pragma once

#include <wincrypt.h>

#include <string>

namespace tv {

// Opens the private key of an acquired context now, asking for its PIN
// unless the context is silent. Why: the component expects acquiring a
// certificate's key to ask for the PIN (and to fail with
// SCARD_W_CANCELLED_BY_USER when nobody can be asked), while the exported
// functions open a protected key only when it first signs.
void openPrivateKeyNow(HCRYPTPROV provider);

// The first container (in name order) of the provider type whose public key
// is the given SubjectPublicKeyInfo's; fails with CRYPT_E_NO_KEY_PROPERTY
// when none is. Why: a certificate stored before certificates named their
// key is matched once by its public key, and reading every container's
// public key through CryptAcquireContext would open every private key.
std::string findContainerOfKey(DWORD providerType, const BYTE* publicKeyInfo, DWORD size);

}  // namespace tv
