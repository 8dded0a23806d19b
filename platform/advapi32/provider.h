// The stand-in's cryptographic providers, chosen by type, and their
// contexts on key containers.
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

// A provider: its type (what CryptAcquireContext and a certificate's key
// property name) and its name.
struct ProviderKind {
  DWORD type;
  const char* name;
};

// The providers, in the order CryptEnumProviders lists them.
extern const ProviderKind kProviders[];
extern const size_t kProviderCount;

// The provider of a type; fails with NTE_PROV_TYPE_NOT_DEF when there is none.
const ProviderKind& providerOfType(DWORD type);

// One acquired context: a key container (or none for CRYPT_VERIFYCONTEXT).
// Its private key is opened when first needed, with the PIN handed by
// PP_KEYEXCHANGE_PIN or else one asked of the user.
class ProviderContext {
 public:
  ProviderContext(const ProviderKind& kind, std::string container, bool silent);
  ~ProviderContext();

  const ProviderKind& kind() const { return kind_; }
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
  const ProviderKind& kind_;
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
HCRYPTPROV acquireContainer(const ProviderKind& kind, const std::string& container, bool silent, bool openKey);

}  // namespace tv
