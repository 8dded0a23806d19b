// A GOST cryptographic service provider for the Windows tests: the 23 entry
// points CryptoAPI calls, over the key folder and libgcrypt. It offers what
// a GOST provider offers its callers: named key containers (opened, made,
// deleted, listed) and the context without one, its provider type's hash
// with the value set and read, signatures with either key and their
// verification, the public key exported, keys protected by a PIN, and the
// NTE_* codes of a real provider. Nothing else (no ciphers, no key import).
//
// Registered under HKLM\Software\Microsoft\Cryptography\Defaults\Provider
// \<name> with "Type", "Image Path" and "Key Folder" (the folder of the
// containers). A key protected by a PIN needs the PIN set on the context
// (PP_KEYEXCHANGE_PIN, PP_SIGNATURE_PIN); without one the provider asks its
// user, who answers with the value "PIN Answer" of that key, or cancels when
// it is absent.
#include "gost.h"
#include "keyfolder.h"

#include <scarderr.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>

namespace testprovider {

namespace {

// The table CryptoAPI hands to CPAcquireContext (version 3).
struct ProviderTable {
  DWORD version;
  FARPROC verifyImage;
  FARPROC returnWindow;
  DWORD providerType;
  BYTE* contextInfo;
  DWORD contextInfoSize;
  LPSTR providerName;
};

const char kProvidersKey[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider\\";

struct Context {
  Context(const ProviderKind* kind, const char* providerName, bool silent)
      : kind(kind), providerName(providerName), silent(silent) {}

  const ProviderKind* kind;
  std::string providerName;
  std::string folder;
  std::string container;  // empty: CRYPT_VERIFYCONTEXT
  bool silent;
  std::string pins[2];   // set with PP_KEYEXCHANGE_PIN, PP_SIGNATURE_PIN
  bool pinSet[2] = {false, false};
  bool unlocked[2] = {false, false};
  std::vector<std::string> listing;  // PP_ENUMCONTAINERS
  size_t next = 0;
};

struct HashObject {
  Context* owner;
  Digest digest;
};

struct KeyObject {
  Context* owner;
  ALG_ID algorithm;
  Key key;
};

// The live objects: a handle that is none of them is refused, not followed.
std::set<Context*> contexts;
std::set<HashObject*> hashes;
std::set<KeyObject*> keys;

[[noreturn]] void fail(HRESULT code) { throw Failure{static_cast<DWORD>(code)}; }

template <typename Body>
BOOL guarded(Body body) {
  try {
    body();
    return TRUE;
  } catch (const Failure& failure) {
    SetLastError(failure.code);
  } catch (const std::bad_alloc&) {
    SetLastError(static_cast<DWORD>(NTE_NO_MEMORY));
  } catch (...) {
    SetLastError(static_cast<DWORD>(NTE_FAIL));
  }
  return FALSE;
}

template <typename T>
T* live(const std::set<T*>& objects, ULONG_PTR handle, HRESULT code) {
  T* object = reinterpret_cast<T*>(handle);
  if (objects.count(object) == 0) fail(code);
  return object;
}

Context* context(HCRYPTPROV handle) { return live(contexts, handle, NTE_BAD_UID); }

HashObject* hash(HCRYPTPROV provider, HCRYPTHASH handle) {
  HashObject* object = live(hashes, handle, NTE_BAD_HASH);
  if (object->owner != context(provider)) fail(NTE_BAD_HASH);
  return object;
}

KeyObject* key(HCRYPTPROV provider, HCRYPTKEY handle) {
  KeyObject* object = live(keys, handle, NTE_BAD_KEY);
  if (object->owner != context(provider)) fail(NTE_BAD_KEY);
  return object;
}

// A released context takes its hashes and keys with it.
template <typename T>
void destroyOwned(std::set<T*>& objects, const Context* owner) {
  for (auto i = objects.begin(); i != objects.end();) {
    if ((*i)->owner != owner) {
      ++i;
      continue;
    }
    delete *i;
    i = objects.erase(i);
  }
}

void checkFlags(DWORD flags, DWORD allowed) {
  if ((flags & ~allowed) != 0) fail(NTE_BAD_FLAGS);
}

// A variable-size output as CryptoAPI hands it out: a null buffer asks for
// the size, a short one gets ERROR_MORE_DATA and the size.
void output(const void* data, DWORD size, BYTE* buffer, DWORD* length) {
  if (length == nullptr) fail(ERROR_INVALID_PARAMETER);
  if (buffer != nullptr && *length < size) {
    *length = size;
    fail(ERROR_MORE_DATA);
  }
  if (buffer != nullptr) std::memcpy(buffer, data, size);
  *length = size;
}

void outputDword(DWORD value, BYTE* buffer, DWORD* length) { output(&value, sizeof value, buffer, length); }

void outputText(const std::string& text, BYTE* buffer, DWORD* length) {
  output(text.c_str(), static_cast<DWORD>(text.size() + 1), buffer, length);
}

// A text value of the provider's registry key; false when it has none.
bool registryText(const std::string& provider, const char* name, std::string& value) {
  const std::string path = kProvidersKey + provider;
  DWORD size = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return false;
  std::vector<char> text(size + 1);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
      ERROR_SUCCESS)
    return false;
  value = text.data();
  return true;
}

size_t specIndex(DWORD keySpec) {
  if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) fail(NTE_BAD_ALGID);
  return keySpec - AT_KEYEXCHANGE;
}

ALG_ID keyAlgorithm(const Context& owner, DWORD keySpec) {
  return keySpec == AT_KEYEXCHANGE ? owner.kind->exchangeAlgorithm : owner.kind->signatureAlgorithm;
}

// The container's key of that key spec, which must exist.
StoredKey storedKey(const Context& owner, DWORD keySpec) {
  if (owner.container.empty()) fail(NTE_NO_KEY);
  const Container container(owner.folder, owner.container);
  const StoredKey* stored = container.key(keySpec);
  if (stored == nullptr) fail(NTE_NO_KEY);
  return *stored;
}

// Opens a protected key with the PIN set on the context or, without one, the
// user's answer; a context once opened stays open for that key.
void unlock(Context& owner, DWORD keySpec, const StoredKey& stored) {
  const size_t i = specIndex(keySpec);
  if (!stored.protectedByPin || owner.unlocked[i]) return;
  std::string pin = owner.pins[i];
  if (!owner.pinSet[i]) {
    if (owner.silent) fail(NTE_SILENT_CONTEXT);
    if (!registryText(owner.providerName, "PIN Answer", pin)) fail(SCARD_W_CANCELLED_BY_USER);
  }
  if (pin != stored.pin) fail(SCARD_W_WRONG_CHV);
  owner.unlocked[i] = true;
}

HCRYPTKEY newKey(Context* owner, ALG_ID algorithm, const Key& value) {
  KeyObject* object = new KeyObject{owner, algorithm, value};
  keys.insert(object);
  return reinterpret_cast<HCRYPTKEY>(object);
}

// libgcrypt's notes (under Wine: that no disk statistics feed its random
// pool) would stand in the callers' output; its errors stay.
void logErrors(void*, int level, const char* format, va_list arguments) {
  if (level >= GCRY_LOG_ERROR) std::vfprintf(stderr, format, arguments);
}

BOOL CALLBACK startLibrary(PINIT_ONCE, PVOID, PVOID*) {
  // The provider stays loaded: CryptoAPI unloads a provider whose context
  // could not be acquired, and the unloading would overwrite the error.
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&startLibrary), &self);
  gcry_check_version(nullptr);
  gcry_set_log_handler(logErrors, nullptr);
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  return TRUE;
}

void initialiseLibrary() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&once, startLibrary, nullptr, nullptr);
}

}  // namespace

}  // namespace testprovider

using namespace testprovider;

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* handle, LPSTR container, DWORD flags, ProviderTable* table) {
  return guarded([&] {
    initialiseLibrary();
    checkFlags(flags, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
    if (handle == nullptr || table == nullptr || table->providerName == nullptr) fail(NTE_FAIL);
    const ProviderKind* kind = providerKind(table->providerType);
    if (kind == nullptr) fail(NTE_BAD_PROV_TYPE);
    std::unique_ptr<Context> made(new Context(kind, table->providerName, (flags & CRYPT_SILENT) != 0));
    if (!registryText(made->providerName, "Key Folder", made->folder)) fail(NTE_PROVIDER_DLL_FAIL);
    const std::string name = container != nullptr ? container : "";
    if ((flags & CRYPT_VERIFYCONTEXT) != 0) {
      if ((flags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET)) != 0) fail(NTE_BAD_FLAGS);
    } else if ((flags & CRYPT_DELETEKEYSET) != 0) {
      Container::remove(made->folder, name);
      return;
    } else if ((flags & CRYPT_NEWKEYSET) != 0) {
      Container::create(made->folder, name);
      made->container = name;
    } else {
      Container(made->folder, name);  // it exists and reads
      made->container = name;
    }
    contexts.insert(made.get());
    *handle = reinterpret_cast<HCRYPTPROV>(made.release());
  });
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV provider, DWORD flags) {
  return guarded([&] {
    Context* owner = context(provider);
    checkFlags(flags, 0);
    destroyOwned(hashes, owner);
    destroyOwned(keys, owner);
    contexts.erase(owner);
    delete owner;
  });
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV provider, DWORD parameter, BYTE* data, DWORD* length, DWORD flags) {
  return guarded([&] {
    Context* owner = context(provider);
    switch (parameter) {
      case PP_ENUMCONTAINERS: {
        checkFlags(flags, CRYPT_FIRST | CRYPT_MACHINE_KEYSET);
        if ((flags & CRYPT_FIRST) != 0 || owner->listing.empty()) {
          owner->listing = Container::list(owner->folder);
          owner->next = 0;
        }
        if (owner->next >= owner->listing.size()) fail(ERROR_NO_MORE_ITEMS);
        outputText(owner->listing[owner->next], data, length);
        if (data != nullptr) ++owner->next;
        return;
      }
      case PP_NAME:
        return outputText(owner->providerName, data, length);
      case PP_CONTAINER:
      case PP_UNIQUE_CONTAINER:
        if (owner->container.empty()) fail(NTE_BAD_KEYSET);
        return outputText(owner->container, data, length);
      case PP_PROVTYPE:
        return outputDword(owner->kind->type, data, length);
      case PP_IMPTYPE:
        return outputDword(CRYPT_IMPL_SOFTWARE, data, length);
      case PP_VERSION:
        return outputDword(0x0200, data, length);
      default:
        fail(NTE_BAD_TYPE);
    }
  });
}

BOOL WINAPI CPSetProvParam(HCRYPTPROV provider, DWORD parameter, const BYTE* data, DWORD flags) {
  return guarded([&] {
    Context* owner = context(provider);
    checkFlags(flags, 0);
    if (parameter != PP_KEYEXCHANGE_PIN && parameter != PP_SIGNATURE_PIN) fail(NTE_BAD_TYPE);
    if (data == nullptr) fail(ERROR_INVALID_PARAMETER);
    const size_t i = parameter == PP_KEYEXCHANGE_PIN ? 0 : 1;
    owner->pins[i] = reinterpret_cast<const char*>(data);
    owner->pinSet[i] = true;
    owner->unlocked[i] = false;
  });
}

BOOL WINAPI CPCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH* handle) {
  return guarded([&] {
    Context* owner = context(provider);
    checkFlags(flags, 0);
    if (algorithm != owner->kind->hash) fail(NTE_BAD_ALGID);
    if (key != 0) fail(NTE_BAD_KEY);
    if (handle == nullptr) fail(ERROR_INVALID_PARAMETER);
    HashObject* object = new HashObject{owner, Digest(*owner->kind)};
    hashes.insert(object);
    *handle = reinterpret_cast<HCRYPTHASH>(object);
  });
}

BOOL WINAPI CPDestroyHash(HCRYPTPROV provider, HCRYPTHASH handle) {
  return guarded([&] {
    HashObject* object = hash(provider, handle);
    hashes.erase(object);
    delete object;
  });
}

BOOL WINAPI CPHashData(HCRYPTPROV provider, HCRYPTHASH handle, const BYTE* data, DWORD size, DWORD flags) {
  return guarded([&] {
    HashObject* object = hash(provider, handle);
    checkFlags(flags, 0);
    if (data == nullptr && size != 0) fail(ERROR_INVALID_PARAMETER);
    object->digest.update(data, size);
  });
}

BOOL WINAPI CPSetHashParam(HCRYPTPROV provider, HCRYPTHASH handle, DWORD parameter, const BYTE* data, DWORD flags) {
  return guarded([&] {
    HashObject* object = hash(provider, handle);
    checkFlags(flags, 0);
    if (parameter != HP_HASHVAL) fail(NTE_BAD_TYPE);
    if (data == nullptr) fail(ERROR_INVALID_PARAMETER);
    object->digest.setValue(data, object->digest.size());
  });
}

BOOL WINAPI CPGetHashParam(HCRYPTPROV provider, HCRYPTHASH handle, DWORD parameter, BYTE* data, DWORD* length,
                           DWORD flags) {
  return guarded([&] {
    HashObject* object = hash(provider, handle);
    checkFlags(flags, 0);
    switch (parameter) {
      case HP_ALGID:
        return outputDword(object->digest.algorithm(), data, length);
      case HP_HASHSIZE:
        return outputDword(object->digest.size(), data, length);
      case HP_HASHVAL:
        if (data == nullptr) return output(nullptr, object->digest.size(), nullptr, length);
        return output(object->digest.value().data(), object->digest.size(), data, length);
      default:
        fail(NTE_BAD_TYPE);
    }
  });
}

BOOL WINAPI CPSignHash(HCRYPTPROV provider, HCRYPTHASH handle, DWORD keySpec, LPCWSTR, DWORD flags, BYTE* signature,
                       DWORD* length) {
  return guarded([&] {
    Context* owner = context(provider);
    HashObject* object = hash(provider, handle);
    checkFlags(flags, CRYPT_NOHASHOID);
    specIndex(keySpec);
    const StoredKey stored = storedKey(*owner, keySpec);
    unlock(*owner, keySpec, stored);
    if (signature == nullptr) return output(nullptr, stored.key.signatureSize(), nullptr, length);
    const Bytes value = stored.key.sign(object->digest.value());
    output(value.data(), static_cast<DWORD>(value.size()), signature, length);
  });
}

BOOL WINAPI CPVerifySignature(HCRYPTPROV provider, HCRYPTHASH handle, const BYTE* signature, DWORD length,
                              HCRYPTKEY publicKey, LPCWSTR, DWORD flags) {
  return guarded([&] {
    HashObject* object = hash(provider, handle);
    const KeyObject* signer = key(provider, publicKey);
    checkFlags(flags, CRYPT_NOHASHOID);
    if (signature == nullptr) fail(ERROR_INVALID_PARAMETER);
    if (!signer->key.verify(object->digest.value(), Bytes(signature, signature + length))) fail(NTE_BAD_SIGNATURE);
  });
}

BOOL WINAPI CPGetUserKey(HCRYPTPROV provider, DWORD keySpec, HCRYPTKEY* handle) {
  return guarded([&] {
    Context* owner = context(provider);
    specIndex(keySpec);
    if (handle == nullptr) fail(ERROR_INVALID_PARAMETER);
    *handle = newKey(owner, keyAlgorithm(*owner, keySpec), storedKey(*owner, keySpec).key);
  });
}

BOOL WINAPI CPGenKey(HCRYPTPROV provider, ALG_ID algorithm, DWORD flags, HCRYPTKEY* handle) {
  return guarded([&] {
    Context* owner = context(provider);
    checkFlags(flags, CRYPT_EXPORTABLE | 0xFFFF0000 /* the key length */);
    DWORD keySpec = algorithm;
    if (algorithm == owner->kind->exchangeAlgorithm) keySpec = AT_KEYEXCHANGE;
    if (algorithm == owner->kind->signatureAlgorithm) keySpec = AT_SIGNATURE;
    specIndex(keySpec);
    if (owner->container.empty()) fail(NTE_PERM);
    if (handle == nullptr) fail(ERROR_INVALID_PARAMETER);
    const Key made = Key::generate(owner->kind->newKeyCurve);
    Container(owner->folder, owner->container).setKey(keySpec, made);
    *handle = newKey(owner, keyAlgorithm(*owner, keySpec), made);
  });
}

BOOL WINAPI CPDestroyKey(HCRYPTPROV provider, HCRYPTKEY handle) {
  return guarded([&] {
    KeyObject* object = key(provider, handle);
    keys.erase(object);
    delete object;
  });
}

BOOL WINAPI CPGetKeyParam(HCRYPTPROV provider, HCRYPTKEY handle, DWORD parameter, BYTE* data, DWORD* length,
                          DWORD flags) {
  return guarded([&] {
    const KeyObject* object = key(provider, handle);
    checkFlags(flags, 0);
    switch (parameter) {
      case KP_ALGID:
        return outputDword(object->algorithm, data, length);
      case KP_KEYLEN:
        return outputDword(object->key.bits(), data, length);
      default:
        fail(NTE_BAD_TYPE);
    }
  });
}

BOOL WINAPI CPExportKey(HCRYPTPROV provider, HCRYPTKEY handle, HCRYPTKEY exchangeKey, DWORD blobType, DWORD flags,
                        BYTE* data, DWORD* length) {
  return guarded([&] {
    const KeyObject* object = key(provider, handle);
    checkFlags(flags, 0);
    if (blobType != PUBLICKEYBLOB) fail(NTE_BAD_TYPE);
    if (exchangeKey != 0) fail(NTE_BAD_KEY);
    const Bytes blob = object->key.publicKeyBlob(object->algorithm, object->owner->kind->hashParams);
    output(blob.data(), static_cast<DWORD>(blob.size()), data, length);
  });
}

BOOL WINAPI CPGenRandom(HCRYPTPROV provider, DWORD size, BYTE* buffer) {
  return guarded([&] {
    context(provider);
    if (buffer == nullptr && size != 0) fail(ERROR_INVALID_PARAMETER);
    gcry_randomize(buffer, size, GCRY_STRONG_RANDOM);
  });
}

// What a GOST signing provider for these tests need not do.
BOOL WINAPI CPDeriveKey(HCRYPTPROV, ALG_ID, HCRYPTHASH, DWORD, HCRYPTKEY*) {
  return guarded([] { fail(NTE_BAD_ALGID); });
}
BOOL WINAPI CPSetKeyParam(HCRYPTPROV, HCRYPTKEY, DWORD, const BYTE*, DWORD) {
  return guarded([] { fail(NTE_BAD_TYPE); });
}
BOOL WINAPI CPImportKey(HCRYPTPROV, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*) {
  return guarded([] { fail(NTE_NOT_SUPPORTED); });
}
BOOL WINAPI CPEncrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*, DWORD) {
  return guarded([] { fail(NTE_BAD_ALGID); });
}
BOOL WINAPI CPDecrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*) {
  return guarded([] { fail(NTE_BAD_ALGID); });
}
BOOL WINAPI CPHashSessionKey(HCRYPTPROV, HCRYPTHASH, HCRYPTKEY, DWORD) {
  return guarded([] { fail(NTE_BAD_ALGID); });
}

}  // extern "C"
