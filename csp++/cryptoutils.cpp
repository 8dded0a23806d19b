#include "csp++/cryptoutils.h"

#include <memory>
#include <stdexcept>

#include "common/exceptions.h"
#include "common/fileinputstream.h"
#include "csp++/cspcontext.h"

namespace {

constexpr long kInvalidParameter = 87;
constexpr DWORD kBase64NoLineBreaks = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
constexpr DWORD kFileBlock = 0x2000;

}  // namespace

CspHash::CspHash(HCRYPTPROV provider, ALG_ID algorithm) {
  Crypto::check(CryptCreateHash(provider, algorithm, 0, 0, &handle_));
}

CspHash::~CspHash() { CryptDestroyHash(handle_); }

void CspHash::hashData(const BYTE* data, DWORD length) {
  if (data == nullptr || length == 0) throw std::invalid_argument("No data was provided");
  Crypto::check(CryptHashData(handle_, data, length, 0));
}

void CspHash::hashData(const std::vector<BYTE>& data) {
  if (data.empty()) throw std::invalid_argument("No data was provided");
  hashData(data.data(), static_cast<DWORD>(data.size()));
}

DWORD CspHash::hashSize() const {
  DWORD size = 0;
  DWORD length = sizeof size;
  Crypto::check(CryptGetHashParam(handle_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &length, 0));
  return size;
}

std::vector<BYTE> CspHash::getHashValue() const {
  DWORD size = hashSize();
  std::vector<BYTE> value(size);
  Crypto::check(CryptGetHashParam(handle_, HP_HASHVAL, value.data(), &size, 0));
  return value;
}

std::vector<BYTE> CspHash::hashAndGetValue(const BYTE* data, DWORD length) {
  Crypto::check(CryptHashData(handle_, data, length, 0));
  return getHashValue();
}

std::vector<BYTE> CspHash::hashAndGetValue(const std::vector<BYTE>& data) {
  return hashAndGetValue(data.data(), static_cast<DWORD>(data.size()));
}

void CspHash::setHashValue(const BYTE* value, DWORD length) {
  if (value == nullptr || length == 0) throw kInvalidParameter;
  if (length != hashSize()) throw std::invalid_argument("Unexpected hash value size");
  Crypto::check(CryptSetHashParam(handle_, HP_HASHVAL, value, 0));
}

void CspHash::setHashValue(const std::vector<BYTE>& value) {
  if (value.empty()) throw std::invalid_argument("Hash value cannot be empty");
  setHashValue(value.data(), static_cast<DWORD>(value.size()));
}

std::vector<BYTE> CspHash::sign(DWORD keySpec) const {
  DWORD length = 0;
  Crypto::check(CryptSignHashA(handle_, keySpec, nullptr, 0, nullptr, &length));
  std::vector<BYTE> signature(length, 0);
  Crypto::check(CryptSignHashA(handle_, keySpec, nullptr, 0, signature.data(), &length));
  // The provider may have needed less than it asked for.
  signature.resize(std::min<size_t>(signature.size(), length));
  return signature;
}

bool CspHash::verify(const std::vector<BYTE>& signature, HCRYPTKEY publicKey) const {
  if (signature.empty()) throw std::invalid_argument("Empty signature");
  return CryptVerifySignatureA(handle_, signature.data(), static_cast<DWORD>(signature.size()), publicKey, nullptr,
                               0) != FALSE;
}

std::string base64Encode(const BYTE* data, DWORD length) {
  if (length == 0) throw std::invalid_argument("Buffer cant be empty");
  DWORD count = 0;
  Sys::checkWin32(CryptBinaryToStringA(data, length, kBase64NoLineBreaks, nullptr, &count), __FILE__, __LINE__);
  std::string text(count, '\0');
  Sys::checkWin32(CryptBinaryToStringA(data, length, kBase64NoLineBreaks, &text[0], &count), __FILE__, __LINE__);
  // On success the count no longer includes the terminating zero.
  text.resize(std::min<size_t>(count, text.size() - 1));
  return text;
}

std::string base64Encode(const std::vector<BYTE>& data) {
  if (data.empty()) throw std::invalid_argument("Buffer cant be empty");
  return base64Encode(data.data(), static_cast<DWORD>(data.size()));
}

void base64Decode(const std::string& text, std::vector<BYTE>& bytes) {
  if (text.empty()) throw std::invalid_argument("Empty string passed");
  const DWORD length = static_cast<DWORD>(text.size());
  DWORD count = 0;
  Sys::checkWin32(CryptStringToBinaryA(text.c_str(), length, CRYPT_STRING_BASE64, nullptr, &count, nullptr, nullptr),
                  __FILE__, __LINE__);
  bytes.resize(count);
  // A text of white space alone decodes to nothing; there is nothing to fetch.
  if (count == 0) return;
  Sys::checkWin32(
      CryptStringToBinaryA(text.c_str(), length, CRYPT_STRING_BASE64, bytes.data(), &count, nullptr, nullptr),
      __FILE__, __LINE__);
  bytes.resize(count);
}

std::vector<BYTE> base64Decode(const std::string& text) {
  std::vector<BYTE> bytes;
  base64Decode(text, bytes);
  return bytes;
}

bool isGostProviderPresent() {
  for (DWORD index = 0;; ++index) {
    DWORD type = 0;
    DWORD nameLength = 0;
    if (!CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &nameLength)) return false;
    std::unique_ptr<void, decltype(&LocalFree)> name(LocalAlloc(LMEM_ZEROINIT, nameLength), LocalFree);
    if (name == nullptr) return false;
    if (!CryptEnumProvidersA(index, nullptr, 0, &type, static_cast<LPSTR>(name.get()), &nameLength)) return false;
    if (type == PROV_GOST_2001_DH) return true;
  }
}

ALG_ID gostHashAlgorithm(const std::string& publicKeyOid) {
  if (publicKeyOid == szOID_CP_GOST_R3410EL) return CALG_GR3411;
  if (publicKeyOid == szOID_CP_GOST_R3410_12_256) return CALG_GR3411_2012_256;
  if (publicKeyOid == szOID_CP_GOST_R3410_12_512) return CALG_GR3411_2012_512;
  throw std::invalid_argument("The certificate's key is not a GOST R 34.10 key: " + publicKeyOid);
}

DWORD gostProviderType(const std::string& publicKeyOid) {
  switch (gostHashAlgorithm(publicKeyOid)) {
    case CALG_GR3411_2012_256: return PROV_GOST_2012_256;
    case CALG_GR3411_2012_512: return PROV_GOST_2012_512;
    default: return PROV_GOST_2001_DH;
  }
}

std::vector<BYTE> digestFile(const CspContext& context, const std::string& fileName, ALG_ID algorithm) {
  if (fileName.empty()) throw std::invalid_argument("No filename given");
  CspHash hash(context.handle(), algorithm);
  Sys::FileInputStream file(fileName);
  for (;;) {
    std::vector<BYTE> block(kFileBlock);
    const DWORD count = file.read(block.data(), kFileBlock);
    if (count == Sys::InputStream::kEndOfStream) break;
    // The stream never reports 0; the check is a debugging aid only.
    hash.hashData(block.data(), count);
  }
  return hash.getHashValue();
}
