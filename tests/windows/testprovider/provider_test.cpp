// Checks through CryptoAPI what the test provider offers beyond the
// component's own path: a container made, given a key, listed, used to sign
// and verify, its public key exported, and deleted; and the codes of the
// calls it refuses.
//
//   provider_test <provider type> <its hash algorithm, hexadecimal>
//
// The provider of that type is registered. Prints a line per failed check and
// a last line with their count, which is also the exit code.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const char* what, int line) {
  if (ok) return;
  ++failures;
  std::printf("FAIL (line %d): %s (last error 0x%08lX)\n", line, what, GetLastError());
}
#define CHECK(condition) check((condition), #condition, __LINE__)
// A call that must fail with that code.
#define REFUSED(call, code) check(!(call) && GetLastError() == static_cast<DWORD>(code), #call, __LINE__)

const char kContainer[] = "provider-test";

bool listed(HCRYPTPROV provider, const char* name) {
  char buffer[300];
  for (DWORD flag = CRYPT_FIRST;; flag = CRYPT_NEXT) {
    DWORD size = sizeof buffer;
    if (!CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer), &size, flag))
      return false;
    if (std::string(buffer) == name) return true;
  }
}

// A new key of each key spec signs a hash; the signature verifies with the
// user key of that key spec only, and not once a byte of it changes.
void checkSigning(HCRYPTPROV provider, ALG_ID hashAlgorithm) {
  HCRYPTKEY keys[2] = {};
  for (DWORD keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) CHECK(CryptGenKey(provider, keySpec, 0, &keys[keySpec - 1]));
  HCRYPTHASH hash = 0;
  CHECK(CryptCreateHash(provider, hashAlgorithm, 0, 0, &hash));
  const BYTE data[] = "signed text";
  CHECK(CryptHashData(hash, data, sizeof data - 1, 0));
  DWORD size = 0;
  CHECK(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, nullptr, &size));
  std::vector<BYTE> signature(size);
  CHECK(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, signature.data(), &size));
  REFUSED(CryptHashData(hash, data, 1, 0), NTE_BAD_HASH_STATE);
  CHECK(CryptVerifySignatureA(hash, signature.data(), size, keys[1], nullptr, 0));
  REFUSED(CryptVerifySignatureA(hash, signature.data(), size, keys[0], nullptr, 0), NTE_BAD_SIGNATURE);
  signature[0] ^= 1;
  REFUSED(CryptVerifySignatureA(hash, signature.data(), size, keys[1], nullptr, 0), NTE_BAD_SIGNATURE);

  // The public key blob: header, "MAG1", parameters, then the point.
  DWORD blobSize = 0;
  CHECK(CryptExportKey(keys[1], 0, PUBLICKEYBLOB, 0, nullptr, &blobSize));
  std::vector<BYTE> blob(blobSize);
  CHECK(CryptExportKey(keys[1], 0, PUBLICKEYBLOB, 0, blob.data(), &blobSize));
  CHECK(blobSize > 16 && blob[0] == PUBLICKEYBLOB && blob[8] == 'M' && blob[11] == '1' && blob[16] == 0x30);
  CryptDestroyHash(hash);
  for (HCRYPTKEY key : keys) CryptDestroyKey(key);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 3) {
    std::fprintf(stderr, "usage: provider_test <provider type> <hash algorithm>\n");
    return 2;
  }
  const DWORD type = std::strtoul(argv[1], nullptr, 10);
  const ALG_ID hashAlgorithm = std::strtoul(argv[2], nullptr, 16);
  HCRYPTPROV provider = 0;
  CryptAcquireContextA(&provider, kContainer, nullptr, type, CRYPT_DELETEKEYSET);  // a leftover
  REFUSED(CryptAcquireContextA(&provider, kContainer, nullptr, type, 0), NTE_BAD_KEYSET);
  REFUSED(CryptAcquireContextA(&provider, "bad\\name", nullptr, type, CRYPT_NEWKEYSET), NTE_BAD_KEYSET_PARAM);
  CHECK(CryptAcquireContextA(&provider, kContainer, nullptr, type, CRYPT_NEWKEYSET));
  if (provider == 0) {
    std::printf("provider_test: no container made, nothing more checked\n");
    return failures;
  }
  HCRYPTPROV again = 0;
  REFUSED(CryptAcquireContextA(&again, kContainer, nullptr, type, CRYPT_NEWKEYSET), NTE_EXISTS);
  HCRYPTKEY none = 0;
  REFUSED(CryptGetUserKey(provider, AT_KEYEXCHANGE, &none), NTE_NO_KEY);
  HCRYPTHASH hash = 0;
  REFUSED(CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash), NTE_BAD_ALGID);
  CHECK(listed(provider, kContainer));
  checkSigning(provider, hashAlgorithm);
  CryptReleaseContext(provider, 0);

  // Without a container: hashing, no signing, and the containers listed.
  CHECK(CryptAcquireContextA(&provider, nullptr, nullptr, type, CRYPT_VERIFYCONTEXT));
  CHECK(CryptCreateHash(provider, hashAlgorithm, 0, 0, &hash));
  DWORD size = 0;
  REFUSED(CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size), NTE_NO_KEY);
  CHECK(listed(provider, kContainer));
  CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);

  CHECK(CryptAcquireContextA(&provider, kContainer, nullptr, type, CRYPT_DELETEKEYSET));
  REFUSED(CryptAcquireContextA(&provider, kContainer, nullptr, type, 0), NTE_BAD_KEYSET);
  std::printf("provider_test: failures: %d\n", failures);
  return failures;
}
