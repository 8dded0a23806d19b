// The stand-in's one cryptographic provider (type 75): its contexts, shared by
// advapi32 (contexts, hashes) and crypt32 (private key of a certificate).
#pragma once

#include <wincrypt.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "advapi32/gostkey.h"
#include "internal/handletable.h"

namespace tv {

constexpr const char* kProviderName = "Tellvane GOST R 34.10-2001 Provider";
constexpr DWORD kProviderType = PROV_GOST_2001_DH;

// One acquired context: a key container (or none for CRYPT_VERIFYCONTEXT).
// Its private key is opened when first needed, with the PIN handed by
// PP_KEYEXCHANGE_PIN or else one asked of the user.
class ProviderContext {
 public:
  ProviderContext(std::string container, bool silent);
  ~ProviderContext();

  const std::string& container() const { return container_; }
  bool hasKey() const { return !container_.empty(); }

  // Opens the key now; fails as the PIN rules say.
  const GostPrivateKey& privateKey();
  // Keeps the PIN, and checks it at once when the key is still closed.
  void setPin(const std::string& pin);

  // State of PP_ENUMCONTAINERS.
  std::vector<std::string> enumeration;
  size_t enumerationNext = 0;

 private:
  void requireMatchingKeys();  // with mutex_ held
  std::string container_;
  bool silent_;
  std::optional<std::string> pin_;
  std::optional<GostPrivateKey> key_;
  std::mutex mutex_;
};

HandleTable<ProviderContext>& providerHandles();

// Acquires a context on a container: checks that it exists and that its key
// file is private, and opens a plain key at once (so that a key of another
// parameter set is refused here). With openKey, an encrypted key is opened
// too, asking for its PIN.
HCRYPTPROV acquireContainer(const std::string& container, bool silent, bool openKey);

}  // namespace tv
