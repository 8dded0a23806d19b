// Public key handles (HCRYPTKEY): a container's key (CryptGetUserKey) and
// imported ones (CryptImportKey), used by CryptVerifySignatureA.
#pragma once

#include "advapi32/gostkey.h"
#include "internal/handletable.h"

namespace tv {

HandleTable<GostPublicKey>& keyHandles();

}  // namespace tv
