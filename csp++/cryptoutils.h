// Small cryptographic utilities over the provider: the hash object, Base64,
// the provider check and the digest of a file.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "csp++/gost.h"

class CspContext;

// One hash object made on a provider handle; it must be destroyed before the
// provider context it was made on.
class CspHash {
 public:
  CspHash(HCRYPTPROV provider, ALG_ID algorithm);
  ~CspHash();
  CspHash(const CspHash&) = delete;
  CspHash& operator=(const CspHash&) = delete;

  HCRYPTHASH handle() const { return handle_; }

  // Feeds bytes; refuses none with std::invalid_argument "No data was provided".
  void hashData(const BYTE* data, DWORD length);
  void hashData(const std::vector<BYTE>& data);
  std::vector<BYTE> getHashValue() const;
  // Feeds the bytes (which must be there) and returns the value.
  std::vector<BYTE> hashAndGetValue(const BYTE* data, DWORD length);
  std::vector<BYTE> hashAndGetValue(const std::vector<BYTE>& data);
  // Imports a digest made elsewhere, in the order given; it must have the
  // hash's size.
  void setHashValue(const BYTE* value, DWORD length);
  void setHashValue(const std::vector<BYTE>& value);
  // The signature in the provider's byte order.
  std::vector<BYTE> sign(DWORD keySpec) const;
  // True exactly when the provider accepts the signature.
  bool verify(const std::vector<BYTE>& signature, HCRYPTKEY publicKey) const;

 private:
  DWORD hashSize() const;

  HCRYPTHASH handle_ = 0;
};

// One line of standard Base64, without line breaks.
std::string base64Encode(const BYTE* data, DWORD length);
std::string base64Encode(const std::vector<BYTE>& data);
void base64Decode(const std::string& text, std::vector<BYTE>& bytes);
std::vector<BYTE> base64Decode(const std::string& text);

// True when a provider of type 75 (GOST R 34.10-2001) is installed.
bool isGostProviderPresent();

// The hash that a key of the public key algorithm (an OID) signs: 0x801E
// for GOST R 34.10-2001, 0x8021 and 0x8022 for GOST R 34.10-2012 with 256-
// and 512-bit keys. Any other algorithm raises std::invalid_argument.
ALG_ID gostHashAlgorithm(const std::string& publicKeyOid);
// The type of the provider that holds such keys (75, 80 or 81); raises as
// gostHashAlgorithm does.
DWORD gostProviderType(const std::string& publicKeyOid);

// The digest of a file's content, GOST R 34.11-94 unless another hash is named.
std::vector<BYTE> digestFile(const CspContext& context, const std::string& fileName,
                             ALG_ID algorithm = CALG_GR3411);
