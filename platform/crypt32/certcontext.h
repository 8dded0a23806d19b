// The stand-in's certificate contexts: what lies behind a PCCERT_CONTEXT,
// shared by the crypt32 files (store, properties, names, usages).
#pragma once

#include <wincrypt.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tv {

struct StoreRecord;

using Bytes = std::vector<BYTE>;
using Thumbprint = std::array<BYTE, 20>;  // the SHA-1 hash of a certificate's encoding

// The CRYPT_E_ASN1_* code that Windows' decoder sets for what GnuTLS
// reports as a decoding error.
DWORD asn1Error(int gnutlsCode);

// A decoded certificate: a copy of the DER encoding and the records made
// from it, never changed afterwards, so that contexts may share it. Throws
// Win32Failure with a CRYPT_E_ASN1_* code when the bytes are not a
// certificate.
struct DecodedCertificate;
std::shared_ptr<const DecodedCertificate> decodeCertificate(const BYTE* encoded, size_t size);

// A new context on a decoded certificate, with one reference.
PCCERT_CONTEXT createCertificateContext(std::shared_ptr<const DecodedCertificate> decoded);
// What a context takes from its decoded certificate. A store opening keeps
// these in one table, so that making its many contexts reads nothing else.
struct ContextSeed {
  const DecodedCertificate* decoded;
  const BYTE* encoded;
  DWORD size;
  const CERT_INFO* info;
  Thumbprint sha1;
};
ContextSeed seedOf(const DecodedCertificate& decoded);
// A new context from a seed, already in a store (see attachToStore);
// `decoded` is the seed's certificate, held as its owner chooses.
PCCERT_CONTEXT createCertificateContext(const ContextSeed& seed, std::shared_ptr<const DecodedCertificate> decoded,
                                        HCERTSTORE store, std::shared_ptr<StoreRecord> record, size_t index);
// The same for DER bytes, decoded here.
PCCERT_CONTEXT createCertificateContext(const BYTE* encoded, size_t size);

// One more reference; the same pointer.
PCCERT_CONTEXT duplicateCertificateContext(PCCERT_CONTEXT context);
// The same for a context known to be alive (a store holds a reference to
// it), without looking it up among the live ones.
PCCERT_CONTEXT duplicateHeldContext(PCCERT_CONTEXT context);

// One reference fewer; the context is destroyed with its last reference.
void releaseCertificateContext(PCCERT_CONTEXT context);

// Throws Win32Failure(E_INVALIDARG) unless the pointer is a live context.
void requireCertificateContext(PCCERT_CONTEXT context);

// The SHA-1 hash of the encoding (20 bytes).
const Thumbprint& certificateSha1(PCCERT_CONTEXT context);

// Store membership, set by the store that loaded the context: its handle
// (written into hCertStore), the store's record, kept alive as long as the
// context lives, and the context's position in the store.
void attachToStore(PCCERT_CONTEXT context, HCERTSTORE store, std::shared_ptr<StoreRecord> record, size_t index);
HCERTSTORE owningStore(PCCERT_CONTEXT context);
// The record of the context's store, also once the store is closed; null
// for a context in no store.
std::shared_ptr<StoreRecord> storeRecordOf(PCCERT_CONTEXT context);
// The context's position in the store; E_INVALIDARG unless the store holds it.
size_t positionInStore(PCCERT_CONTEXT context, HCERTSTORE store);

// A property kept with a context in no store, as text (empty: none).
std::string heldKeyLinkText(PCCERT_CONTEXT context);
void holdKeyLinkText(PCCERT_CONTEXT context, std::string text);

}  // namespace tv
