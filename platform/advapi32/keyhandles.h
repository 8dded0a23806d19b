// Public key handles (HCRYPTKEY), made by crypt32's CryptImportPublicKeyInfo
// and used by advapi32's CryptVerifySignatureA.
#pragma once

#include "advapi32/gostkey.h"
#include "internal/handletable.h"

namespace tv {

HandleTable<GostPublicKey>& keyHandles();

}  // namespace tv
