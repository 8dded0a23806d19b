// The stand-in's providers: contexts on key containers, container
// enumeration and the key-exchange PIN.
#include "advapi32/provider.h"

#include <winerror.h>

#include <cstring>

#include "advapi32/keycontainer.h"
#include "advapi32/pinentry.h"
#include "internal/utf.h"
#include "internal/win32call.h"

namespace tv {

const ProviderKind kProviders[] = {
    {PROV_GOST_2001_DH, "Tellvane GOST R 34.10-2001 Provider"},
};
const size_t kProviderCount = sizeof kProviders / sizeof kProviders[0];

const ProviderKind& providerOfType(DWORD type) {
  for (const ProviderKind& kind : kProviders)
    if (kind.type == type) return kind;
  fail(NTE_PROV_TYPE_NOT_DEF);
}

namespace {

void wipe(std::string& secret) {
  if (!secret.empty()) explicit_bzero(&secret[0], secret.size());
  secret.clear();
}

GostPrivateKey openWithPin(const std::string& pem, const std::string& pin) {
  return GostPrivateKey::fromPkcs8(pem, pin.c_str());
}

void copyText(const std::string& text, BYTE* out, DWORD* ioSize) {
  copyOut(text.c_str(), static_cast<DWORD>(text.size() + 1), out, ioSize);
}

void copyDword(DWORD value, BYTE* out, DWORD* ioSize) { copyOut(&value, sizeof value, out, ioSize); }

void enumerateContainers(ProviderContext& context, BYTE* out, DWORD* ioSize, DWORD flags) {
  if (flags & CRYPT_FIRST) {
    context.enumeration = listContainers();
    context.enumerationNext = 0;
  } else if (flags != CRYPT_NEXT) {
    fail(NTE_BAD_FLAGS);
  }
  if (context.enumerationNext >= context.enumeration.size()) fail(ERROR_NO_MORE_ITEMS);
  copyText(context.enumeration[context.enumerationNext], out, ioSize);
  // A size query or a buffer too small leaves the position where it is.
  if (out != nullptr) ++context.enumerationNext;
}

}  // namespace

ProviderContext::ProviderContext(const ProviderKind& kind, std::string container, bool silent)
    : kind_(kind), container_(std::move(container)), silent_(silent) {}

ProviderContext::~ProviderContext() {
  if (pin_) wipe(*pin_);
}

const GostPrivateKey& ProviderContext::privateKey() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (key_) return *key_;
  if (!hasKey()) fail(NTE_NO_KEY);
  const std::string pem = readPrivateKeyFile(container_);
  if (!isEncryptedPkcs8(pem)) {
    key_.emplace(GostPrivateKey::fromPkcs8(pem, nullptr));
  } else if (pin_) {
    key_.emplace(openWithPin(pem, *pin_));
  } else {
    std::optional<std::string> asked;
    if (!silent_) asked = askPin("Please enter the PIN of the key in the container \"" + container_ + "\".");
    if (!asked || asked->empty()) fail(SCARD_W_CANCELLED_BY_USER);
    struct Wiper {
      std::string& secret;
      ~Wiper() { wipe(secret); }
    } wiper{*asked};
    key_.emplace(openWithPin(pem, *asked));
  }
  requireMatchingKeys();
  return *key_;
}

// A private key that is not the half of the container's public key would
// sign what nothing verifies: such a container is refused when opened.
void ProviderContext::requireMatchingKeys() {
  if (!key_->publicKey().sameKeyAs(GostPublicKey::fromSpki(readPublicKeyFile(container_)))) {
    key_.reset();
    fail(NTE_KEYSET_ENTRY_BAD);
  }
}

void ProviderContext::setPin(const std::string& pin) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (hasKey() && !key_) {
    // Checked now, as a card checks its PIN when it is presented.
    const std::string pem = readPrivateKeyFile(container_);
    key_.emplace(isEncryptedPkcs8(pem) ? openWithPin(pem, pin) : GostPrivateKey::fromPkcs8(pem, nullptr));
    requireMatchingKeys();
  }
  if (pin_) wipe(*pin_);
  pin_ = pin;
}

HandleTable<ProviderContext>& providerHandles() {
  static HandleTable<ProviderContext> handles(NTE_BAD_UID);
  return handles;
}

HCRYPTPROV acquireContainer(const ProviderKind& kind, const std::string& container, bool silent, bool openKey) {
  if (!containerExists(container)) fail(NTE_BAD_KEYSET);
  auto context = std::make_shared<ProviderContext>(kind, container, silent);
  if (openKey || !isEncryptedPkcs8(readPrivateKeyFile(container))) context->privateKey();
  return providerHandles().add(std::move(context));
}

}  // namespace tv

using namespace tv;

WINADVAPI BOOL WINAPI CryptEnumProvidersA(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                                          LPSTR szProvName, DWORD* pcbProvName) {
  return win32Bool([&] {
    require(pdwReserved == nullptr && pdwProvType != nullptr && pcbProvName != nullptr);
    require(dwFlags == 0, NTE_BAD_FLAGS);
    if (dwIndex >= kProviderCount) fail(ERROR_NO_MORE_ITEMS);
    copyText(kProviders[dwIndex].name, reinterpret_cast<BYTE*>(szProvName), pcbProvName);
    *pdwProvType = kProviders[dwIndex].type;
  });
}

namespace {

// CryptAcquireContext with its names in UTF-8.
void acquireContext(HCRYPTPROV* phProv, const std::string& container, const char* szProvider, DWORD dwProvType,
                    DWORD dwFlags) {
  require(phProv != nullptr);
  const ProviderKind& kind = providerOfType(dwProvType);
  if (szProvider != nullptr && *szProvider != '\0' && std::strcmp(szProvider, kind.name) != 0) fail(NTE_KEYSET_NOT_DEF);
  if ((dwFlags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_DELETEKEYSET)) != 0) fail(NTE_BAD_FLAGS);
  if (dwFlags & CRYPT_DELETEKEYSET) {
    // Deleting hands out no handle, as on Windows.
    if (dwFlags & CRYPT_VERIFYCONTEXT) fail(NTE_BAD_FLAGS);
    *phProv = 0;
    if (container.empty()) fail(NTE_BAD_KEYSET);
    removeContainer(container);
    return;
  }
  if (dwFlags & CRYPT_VERIFYCONTEXT) {
    if (!container.empty()) fail(NTE_BAD_FLAGS);
    *phProv = providerHandles().add(std::make_shared<ProviderContext>(kind, "", true));
    return;
  }
  // There is no default container: a key is always named.
  if (container.empty()) fail(NTE_BAD_KEYSET);
  *phProv = acquireContainer(kind, container, (dwFlags & CRYPT_SILENT) != 0, false);
}

}  // namespace

WINADVAPI BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                           DWORD dwProvType, DWORD dwFlags) {
  return win32Bool([&] {
    acquireContext(phProv, szContainer != nullptr ? szContainer : "", szProvider, dwProvType, dwFlags);
  });
}

WINADVAPI BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                                           DWORD dwProvType, DWORD dwFlags) {
  return win32Bool([&] {
    const std::string container = szContainer != nullptr ? toUtf8(szContainer, wideLength(szContainer)) : "";
    const std::string provider = szProvider != nullptr ? toUtf8(szProvider, wideLength(szProvider)) : "";
    acquireContext(phProv, container, szProvider != nullptr ? provider.c_str() : nullptr, dwProvType, dwFlags);
  });
}

WINADVAPI BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  return win32Bool([&] {
    require(dwFlags == 0, NTE_BAD_FLAGS);
    providerHandles().remove(hProv);
  });
}

WINADVAPI BOOL WINAPI CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                        DWORD dwFlags) {
  return win32Bool([&] {
    const auto context = providerHandles().get(hProv);
    require(pdwDataLen != nullptr);
    if (dwParam == PP_ENUMCONTAINERS) return enumerateContainers(*context, pbData, pdwDataLen, dwFlags);
    require(dwFlags == 0, NTE_BAD_FLAGS);
    switch (dwParam) {
      case PP_NAME:
        return copyText(context->kind().name, pbData, pdwDataLen);
      case PP_CONTAINER:
        return copyText(context->container(), pbData, pdwDataLen);
      case PP_PROVTYPE:
        return copyDword(context->kind().type, pbData, pdwDataLen);
      default:
        fail(NTE_BAD_TYPE);
    }
  });
}

WINADVAPI BOOL WINAPI CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  return win32Bool([&] {
    const auto context = providerHandles().get(hProv);
    if (dwParam != PP_KEYEXCHANGE_PIN) fail(NTE_BAD_TYPE);
    require(pbData != nullptr);
    require(dwFlags == 0, NTE_BAD_FLAGS);
    std::string pin(reinterpret_cast<const char*>(pbData));
    try {
      context->setPin(pin);
    } catch (...) {
      wipe(pin);
      throw;
    }
    wipe(pin);
  });
}
