// Certificate contexts: CertCreateCertificateContext decodes a certificate
// with GnuTLS into the CERT_CONTEXT / CERT_INFO records Windows hands out;
// contexts are reference counted and live until their last reference goes,
// whether or not the store they came from is still open.
#include "crypt32/certcontext.h"
#include "internal/gnutls_handles.h"
#include "internal/win32call.h"

#include <tvplatform.h>
#include <wincrypt.h>

#include <gnutls/crypto.h>
#include <libtasn1.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <type_traits>
#include <optional>
#include <utility>

namespace tv {

// What decoding a certificate gives, never changed once made: every context
// made from the same file shares it.
struct DecodedCertificate {
  CERT_INFO info{};
  Bytes encoded;
  Bytes serial;  // little-endian, as Windows keeps it
  std::string signatureOid;
  Bytes issuer;
  Bytes subject;
  std::string publicKeyOid;
  Bytes publicKeyParameters;
  Bytes publicKey;
  std::deque<std::string> extensionOids;  // stable addresses for pszObjId
  std::deque<Bytes> extensionValues;
  std::vector<CERT_EXTENSION> extensions;
  Thumbprint sha1{};
};

namespace {

struct CertificateContext {
  CERT_CONTEXT context{};
  std::shared_ptr<const DecodedCertificate> decoded;
  std::atomic<long> references{1};
  std::shared_ptr<StoreRecord> store;
  size_t storeIndex = 0;
  std::string keyLinkText;  // the key property of a context in no store
  Thumbprint sha1{};  // a copy, read without reaching for the decoded certificate
};

// Every live context, so that a pointer from a caller can be checked and
// counted. Contexts live in the slots of blocks that are kept for the
// process and reused, so that checking a pointer is finding its block (a
// few, in address order) and its slot, which touches no memory but the
// slot: a pointer is a live context when it is where a taken slot keeps its
// context. The lock is held only to check, take or give back a slot.
class Registry {
 public:
  struct Slot {
    std::optional<CertificateContext> held;
  };

  std::mutex lock;

  // With the lock held: the slot of a live context, or null.
  Slot* find(PCCERT_CONTEXT context) {
    const auto address = reinterpret_cast<std::uintptr_t>(context);
    auto after = std::upper_bound(blocks_.begin(), blocks_.end(), address,
                                  [](std::uintptr_t a, const Block& block) { return a < block.begin(); });
    if (after == blocks_.begin()) return nullptr;
    const Block& block = *(after - 1);
    if (address >= block.end()) return nullptr;
    Slot& slot = block.slots[(address - block.begin()) / sizeof(Slot)];
    return slot.held && &slot.held->context == context ? &slot : nullptr;
  }

  // With the lock held: a new context in a free slot.
  CertificateContext& take() {
    if (free_.empty()) addBlock();
    Slot* slot = free_.back();
    free_.pop_back();
    ++live_;
    return slot->held.emplace();
  }

  // With the lock held: the slot is free again. What the context held is
  // handed back, to be let go of outside the lock.
  std::pair<std::shared_ptr<const DecodedCertificate>, std::shared_ptr<StoreRecord>> giveBack(Slot& slot) {
    auto held = std::make_pair(std::move(slot.held->decoded), std::move(slot.held->store));
    slot.held.reset();
    free_.push_back(&slot);
    --live_;
    return held;
  }

  size_t live() const { return live_; }

 private:
  static constexpr size_t kSlotsPerBlock = 256;

  struct Block {
    std::unique_ptr<Slot[]> slots;
    std::uintptr_t begin() const { return reinterpret_cast<std::uintptr_t>(slots.get()); }
    std::uintptr_t end() const { return begin() + kSlotsPerBlock * sizeof(Slot); }
  };

  void addBlock() {
    Block block{std::make_unique<Slot[]>(kSlotsPerBlock)};
    free_.reserve(free_.size() + kSlotsPerBlock);
    for (size_t i = kSlotsPerBlock; i-- > 0;) free_.push_back(&block.slots[i]);  // taken in address order
    auto at = std::upper_bound(blocks_.begin(), blocks_.end(), block.begin(),
                               [](std::uintptr_t a, const Block& b) { return a < b.begin(); });
    blocks_.insert(at, std::move(block));
  }

  std::vector<Block> blocks_;  // in address order
  std::vector<Slot*> free_;
  size_t live_ = 0;
};

Registry& registry() {
  static Registry* instance = new Registry;  // never destroyed: contexts may outlive static destruction
  return *instance;
}

CertificateContext& lookup(PCCERT_CONTEXT context) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Registry::Slot* slot = r.find(context);
  if (slot == nullptr) fail(static_cast<DWORD>(E_INVALIDARG));
  return *slot->held;
}

// The GnuTLS reading of one certificate. A failure is a decoding failure.
void decodeOrFail(int result) {
  if (result < 0) fail(asn1Error(result));
}

std::string readOid(int (*get)(gnutls_x509_crt_t, char*, size_t*), gnutls_x509_crt_t crt) {
  char buffer[128];
  size_t size = sizeof buffer;
  decodeOrFail(get(crt, buffer, &size));
  return std::string(buffer);
}

FILETIME toFileTime(time_t seconds) {
  // GnuTLS gives -1 for "99991231235959Z", the time RFC 5280 uses for "no
  // well-defined expiration".
  if (seconds == static_cast<time_t>(-1)) seconds = 253402300799;  // 9999-12-31 23:59:59
  constexpr long long kEpochDifference = 11644473600LL;             // seconds from 1601 to 1970
  if (seconds < -kEpochDifference) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  unsigned long long ticks = static_cast<unsigned long long>(seconds + kEpochDifference) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// One DER element as libtasn1 reads it: where its contents begin and how
// long they are.
struct Element {
  size_t header;
  size_t length;
  size_t total() const { return header + length; }
};

Element readElement(const unsigned char* der, size_t size) {
  unsigned char tagClass = 0;
  int tagSize = 0;
  unsigned long tag = 0;
  if (asn1_get_tag_der(der, static_cast<int>(size), &tagClass, &tagSize, &tag) != ASN1_SUCCESS)
    fail(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  int lengthSize = 0;
  long length = asn1_get_length_der(der + tagSize, static_cast<int>(size - tagSize), &lengthSize);
  if (length < 0) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  return Element{static_cast<size_t>(tagSize + lengthSize), static_cast<size_t>(length)};
}

// SubjectPublicKeyInfo ::= SEQUENCE { algorithm SEQUENCE { OID, parameters
// ANY OPTIONAL }, subjectPublicKey BIT STRING }: the parameters' DER and the
// key bits, as CERT_PUBLIC_KEY_INFO holds them.
void splitPublicKeyInfo(const Bytes& spki, DecodedCertificate& c, DWORD& unusedBits) {
  const unsigned char* p = spki.data();
  Element outer = readElement(p, spki.size());
  const unsigned char* end = p + outer.total();
  p += outer.header;
  Element algorithm = readElement(p, end - p);
  Element oid = readElement(p + algorithm.header, algorithm.length);
  c.publicKeyParameters.assign(p + algorithm.header + oid.total(), p + algorithm.total());
  p += algorithm.total();
  Element bits = readElement(p, end - p);
  if (bits.length == 0) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  unusedBits = p[bits.header];
  c.publicKey.assign(p + bits.header + 1, p + bits.total());
}

void readPublicKey(gnutls_x509_crt_t crt, DecodedCertificate& c) {
  c.publicKeyOid = readOid(gnutls_x509_crt_get_pk_oid, crt);
  c.info.SubjectPublicKeyInfo.Algorithm.pszObjId = c.publicKeyOid.data();
  // An algorithm GnuTLS does not know still makes a context; only the key's
  // parameters and bits stay empty.
  try {
    PubKey key;
    GnutlsDatum spki;
    if (gnutls_pubkey_import_x509(key, crt, 0) < 0) return;
    if (gnutls_pubkey_export2(key, GNUTLS_X509_FMT_DER, spki.out()) < 0) return;
    DWORD unusedBits = 0;
    splitPublicKeyInfo(spki.bytes(), c, unusedBits);
    c.info.SubjectPublicKeyInfo.PublicKey.cUnusedBits = unusedBits;
  } catch (const Win32Failure&) {
    c.publicKeyParameters.clear();
    c.publicKey.clear();
  } catch (const GnutlsFailure&) {
  }
  c.info.SubjectPublicKeyInfo.Algorithm.Parameters = {static_cast<DWORD>(c.publicKeyParameters.size()),
                                                      c.publicKeyParameters.data()};
  c.info.SubjectPublicKeyInfo.PublicKey.cbData = static_cast<DWORD>(c.publicKey.size());
  c.info.SubjectPublicKeyInfo.PublicKey.pbData = c.publicKey.data();
}

void readExtensions(gnutls_x509_crt_t crt, DecodedCertificate& c) {
  std::vector<BOOL> critical;
  for (unsigned index = 0;; ++index) {
    char oid[128];
    size_t oidSize = sizeof oid;
    unsigned isCritical = 0;
    int result = gnutls_x509_crt_get_extension_info(crt, index, oid, &oidSize, &isCritical);
    if (result == GNUTLS_E_REQUESTED_DATA_NOT_AVAILABLE) break;
    decodeOrFail(result);
    GnutlsDatum value;
    decodeOrFail(gnutls_x509_crt_get_extension_data2(crt, index, value.out()));
    c.extensionOids.emplace_back(oid);
    c.extensionValues.push_back(value.bytes());
    critical.push_back(isCritical ? TRUE : FALSE);
  }
  for (size_t i = 0; i < c.extensionOids.size(); ++i)
    c.extensions.push_back(CERT_EXTENSION{
        c.extensionOids[i].data(), critical[i],
        {static_cast<DWORD>(c.extensionValues[i].size()), c.extensionValues[i].data()}});
  c.info.cExtension = static_cast<DWORD>(c.extensions.size());
  c.info.rgExtension = c.extensions.empty() ? nullptr : c.extensions.data();
}

Bytes rawName(int (*get)(gnutls_x509_crt_t, gnutls_datum_t*), gnutls_x509_crt_t crt) {
  GnutlsDatum name;
  decodeOrFail(get(crt, name.out()));
  return name.bytes();
}

std::shared_ptr<DecodedCertificate> decode(const BYTE* encoded, size_t size) {
  auto c = std::make_shared<DecodedCertificate>();
  c->encoded.assign(encoded, encoded + size);
  X509Crt crt;
  gnutls_datum_t der = borrowedDatum(c->encoded.data(), c->encoded.size());
  decodeOrFail(gnutls_x509_crt_import(crt, &der, GNUTLS_X509_FMT_DER));

  int version = gnutls_x509_crt_get_version(crt);
  decodeOrFail(version);
  c->info.dwVersion = static_cast<DWORD>(version > 0 ? version - 1 : 0);

  unsigned char serial[64];
  size_t serialSize = sizeof serial;
  decodeOrFail(gnutls_x509_crt_get_serial(crt, serial, &serialSize));
  c->serial.assign(serial, serial + serialSize);
  std::reverse(c->serial.begin(), c->serial.end());
  c->info.SerialNumber = {static_cast<DWORD>(c->serial.size()), c->serial.data()};

  c->signatureOid = readOid(gnutls_x509_crt_get_signature_oid, crt);
  c->info.SignatureAlgorithm.pszObjId = c->signatureOid.data();

  c->issuer = rawName(gnutls_x509_crt_get_raw_issuer_dn, crt);
  c->subject = rawName(gnutls_x509_crt_get_raw_dn, crt);
  c->info.Issuer = {static_cast<DWORD>(c->issuer.size()), c->issuer.data()};
  c->info.Subject = {static_cast<DWORD>(c->subject.size()), c->subject.data()};

  c->info.NotBefore = toFileTime(gnutls_x509_crt_get_activation_time(crt));
  c->info.NotAfter = toFileTime(gnutls_x509_crt_get_expiration_time(crt));

  readPublicKey(crt, *c);
  readExtensions(crt, *c);

  if (gnutls_hash_fast(GNUTLS_DIG_SHA1, c->encoded.data(), c->encoded.size(), c->sha1.data()) < 0)
    fail(static_cast<DWORD>(NTE_FAIL));
  return c;
}

}  // namespace

DWORD asn1Error(int gnutlsCode) {
  switch (gnutlsCode) {
    case GNUTLS_E_MEMORY_ERROR:
      throw std::bad_alloc();
    case GNUTLS_E_ASN1_DER_OVERFLOW:
    case GNUTLS_E_SHORT_MEMORY_BUFFER:
      return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
    case GNUTLS_E_ASN1_TAG_ERROR:
    case GNUTLS_E_ASN1_TYPE_ANY_ERROR:
    case GNUTLS_E_ASN1_IDENTIFIER_NOT_FOUND:
      return static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
    case GNUTLS_E_ASN1_VALUE_NOT_VALID:
    case GNUTLS_E_ASN1_DER_ERROR:
    case GNUTLS_E_ASN1_ELEMENT_NOT_FOUND:
    case GNUTLS_E_ASN1_SYNTAX_ERROR:
    case GNUTLS_E_ASN1_TAG_IMPLICIT:
    case GNUTLS_E_ASN1_GENERIC_ERROR:
      return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    default:
      return static_cast<DWORD>(CRYPT_E_ASN1_ERROR);
  }
}

std::shared_ptr<const DecodedCertificate> decodeCertificate(const BYTE* encoded, size_t size) {
  if (size == 0) fail(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
  require(encoded != nullptr, static_cast<DWORD>(E_INVALIDARG));
  require(size <= 0x7FFFFFFF, static_cast<DWORD>(CRYPT_E_ASN1_LARGE));
  try {
    return decode(encoded, size);
  } catch (const GnutlsFailure& failure) {
    fail(asn1Error(failure.code));
  }
}

PCCERT_CONTEXT createCertificateContext(const BYTE* encoded, size_t size) {
  return createCertificateContext(decodeCertificate(encoded, size));
}

PCCERT_CONTEXT createCertificateContext(std::shared_ptr<const DecodedCertificate> decoded) {
  const ContextSeed seed = seedOf(*decoded);
  return createCertificateContext(seed, std::move(decoded), nullptr, nullptr, 0);
}

ContextSeed seedOf(const DecodedCertificate& decoded) {
  return ContextSeed{&decoded, decoded.encoded.data(), static_cast<DWORD>(decoded.encoded.size()), &decoded.info,
                     decoded.sha1};
}

PCCERT_CONTEXT createCertificateContext(const ContextSeed& seed, std::shared_ptr<const DecodedCertificate> decoded,
                                        HCERTSTORE store, std::shared_ptr<StoreRecord> record, size_t index) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  CertificateContext& c = r.take();
  c.context.dwCertEncodingType = X509_ASN_ENCODING;
  // The platform's records are read-only to callers; one copy serves all.
  c.context.pbCertEncoded = const_cast<BYTE*>(seed.encoded);
  c.context.cbCertEncoded = seed.size;
  c.context.pCertInfo = const_cast<CERT_INFO*>(seed.info);
  c.context.hCertStore = store;
  c.decoded = std::move(decoded);
  c.store = std::move(record);
  c.storeIndex = index;
  c.sha1 = seed.sha1;
  return &c.context;
}

PCCERT_CONTEXT duplicateCertificateContext(PCCERT_CONTEXT context) {
  lookup(context).references.fetch_add(1);
  return context;
}

PCCERT_CONTEXT duplicateHeldContext(PCCERT_CONTEXT context) {
  // The record begins with the context it hands out.
  static_assert(std::is_standard_layout_v<CertificateContext>);
  reinterpret_cast<CertificateContext*>(const_cast<CERT_CONTEXT*>(context))->references.fetch_add(1);
  return context;
}

void releaseCertificateContext(PCCERT_CONTEXT context) {
  // Let go of outside the lock: the last hold on a store may go with them.
  std::pair<std::shared_ptr<const DecodedCertificate>, std::shared_ptr<StoreRecord>> held;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Registry::Slot* slot = r.find(context);
  if (slot == nullptr) fail(static_cast<DWORD>(E_INVALIDARG));
  if (slot->held->references.fetch_sub(1) == 1) held = r.giveBack(*slot);
}

void requireCertificateContext(PCCERT_CONTEXT context) { lookup(context); }

const Thumbprint& certificateSha1(PCCERT_CONTEXT context) { return lookup(context).sha1; }

void attachToStore(PCCERT_CONTEXT context, HCERTSTORE store, std::shared_ptr<StoreRecord> record, size_t index) {
  CertificateContext& c = lookup(context);
  c.context.hCertStore = store;
  c.store = std::move(record);
  c.storeIndex = index;
}

HCERTSTORE owningStore(PCCERT_CONTEXT context) { return lookup(context).context.hCertStore; }

namespace {

// Runs `use` on a live context with the registry's lock held.
template <class Use>
auto withLocked(PCCERT_CONTEXT context, Use use) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Registry::Slot* slot = r.find(context);
  if (slot == nullptr) fail(static_cast<DWORD>(E_INVALIDARG));
  return use(*slot->held);
}

}  // namespace

std::shared_ptr<StoreRecord> storeRecordOf(PCCERT_CONTEXT context) {
  return withLocked(context, [](CertificateContext& c) { return c.store; });
}

std::string heldKeyLinkText(PCCERT_CONTEXT context) {
  return withLocked(context, [](CertificateContext& c) { return c.keyLinkText; });
}

void holdKeyLinkText(PCCERT_CONTEXT context, std::string text) {
  withLocked(context, [&](CertificateContext& c) { c.keyLinkText = std::move(text); });
}

size_t positionInStore(PCCERT_CONTEXT context, HCERTSTORE store) {
  const CertificateContext& c = lookup(context);
  require(c.context.hCertStore == store, static_cast<DWORD>(E_INVALIDARG));
  return c.storeIndex;
}

}  // namespace tv

WINCRYPT32API PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                                 DWORD cbCertEncoded) {
  return tv::win32Value<PCCERT_CONTEXT>(nullptr, [&] {
    tv::require((dwCertEncodingType & 0xFFFF) == X509_ASN_ENCODING, static_cast<DWORD>(E_INVALIDARG));
    return tv::createCertificateContext(pbCertEncoded, cbCertEncoded);
  });
}

WINCRYPT32API PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (pCertContext == nullptr) return nullptr;
  return tv::win32Value<PCCERT_CONTEXT>(nullptr, [&] { return tv::duplicateCertificateContext(pCertContext); });
}

WINCRYPT32API BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (pCertContext == nullptr) return TRUE;
  return tv::win32Bool([&] { tv::releaseCertificateContext(pCertContext); });
}

WINBASEAPI LONG WINAPI TvLiveCertificateContexts(void) {
  tv::Registry& r = tv::registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return static_cast<LONG>(r.live());
}
