// What crypt32 asks of the provider beyond its exported functions (see
// internal/certificatekey.h): opening a context's key now, and finding the
// container of a public key by reading every container's public key.
#include "internal/certificatekey.h"

#include <winerror.h>

#include <optional>

#include "advapi32/gostkey.h"
#include "advapi32/keycontainer.h"
#include "advapi32/provider.h"
#include "internal/win32call.h"

namespace tv {

namespace {

std::optional<GostPublicKey> containerKey(const std::string& name) {
  try {
    return GostPublicKey::fromSpki(readPublicKeyFile(name));
  } catch (const Win32Failure&) {
    return std::nullopt;  // an unreadable or foreign public key holds no key of ours
  }
}

}  // namespace

void openPrivateKeyNow(HCRYPTPROV provider) { providerHandles().get(provider)->privateKey(); }

std::string findContainerOfKey(DWORD providerType, const BYTE* publicKeyInfo, DWORD size) {
  providerOfType(providerType);
  const GostPublicKey wanted = GostPublicKey::fromSpki(Bytes(publicKeyInfo, publicKeyInfo + size));
  // Every container, in name order: the first holder of a key is its container.
  for (const std::string& name : listContainers())
    if (std::optional<GostPublicKey> held = containerKey(name); held && held->sameKeyAs(wanted)) return name;
  fail(CRYPT_E_NO_KEY_PROPERTY);
}

}  // namespace tv
