// Certificates and keys made with GnuTLS for the platform prefix: GOST
// R 34.10 keys for what signs (on the curves GnuTLS lacks, keys and
// signatures by libgcrypt), RSA or ECDSA keys where the key type does not
// matter, and names, validity periods and extensions chosen by the caller
// (the tellvane command and the tests).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "gostsign/gostsign.h"

namespace provisioning {

using Bytes = std::vector<unsigned char>;

enum class KeyKind {
  Gost2001ParamSetA,     // GOST R 34.10-2001, parameter set 1.2.643.2.2.35.1
  Gost2001ParamSetXchA,  // GOST R 34.10-2001, parameter set 1.2.643.2.2.36.0
  Rsa2048,
  EcdsaP256,
  Gost,  // GOST R 34.10-2001 or 2012 on any published set: CertificateOptions::gostSet
};

// One attribute of a distinguished name. `text` is set as a UTF-8 string
// and GnuTLS picks the string type; when `der` is not empty it is the
// attribute value's complete DER (tag, length, contents) and is used as is,
// so that NumericString, BMPString, TeletexString or non-string values can
// be made.
struct NameAttribute {
  std::string oid;
  std::string text;
  Bytes der;
};

// A distinguished name in encoded order, one attribute per RDN. A name with
// multi-valued RDNs, which GnuTLS cannot build, is given as `der` instead:
// the complete Name DER.
struct Name {
  std::vector<NameAttribute> rdns;
  Bytes der;
};

struct Extension {
  std::string oid;
  Bytes der;  // the extension value (the contents of extnValue)
  bool critical = false;
};

struct CertificateOptions {
  KeyKind key = KeyKind::Gost2001ParamSetA;
  const tv::gost::ParameterSet* gostSet = nullptr;  // with KeyKind::Gost
  Name subject;                      // empty: CN=Test certificate
  Name issuer;                       // empty: the subject (self-signed)
  std::time_t notBefore = 0;         // 0: an hour ago
  std::time_t notAfter = 0;          // 0: a year after notBefore
  std::vector<std::string> keyUsages;  // extended key usage OIDs; none: no extension
  std::vector<Extension> extensions;
  std::uint64_t serial = 0;          // 0: a fresh number
};

struct TestCertificate {
  Bytes der;                  // the certificate
  std::string privateKeyPem;  // PKCS#8, unencrypted
  Bytes publicKeyDer;         // SubjectPublicKeyInfo
};

// Makes a certificate signed with its own key. With a name given as `der`,
// the signature no longer covers the name (nothing here verifies it).
TestCertificate makeCertificate(const CertificateOptions& options = {});
TestCertificate makeCertificate(KeyKind key);
TestCertificate makeCertificate(const tv::gost::ParameterSet& gostSet);

// The DER encoding of a name (for the name-string functions).
Bytes nameDer(const Name& name);

// Shorthands.
Name commonName(const std::string& cn);
NameAttribute textAttribute(const std::string& oid, const std::string& text);
NameAttribute rawAttribute(const std::string& oid, const Bytes& der);
// A DER string value: tag byte, definite length, the bytes.
Bytes derString(unsigned char tag, const std::string& contents);
Bytes fromHex(const std::string& hex);
std::string toHex(const Bytes& bytes);  // upper case
std::time_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The value of the signature-tool extensions 1.2.643.100.111 (a UTF8String)
// and 1.2.643.100.112 (a SEQUENCE of four UTF8Strings).
Bytes subjectSignToolValue();
Bytes issuerSignToolValue();

// The same PKCS#8 private key, encrypted with the password (PBES2, AES-256).
std::string encryptPrivateKey(const std::string& plainPem, const std::string& password);

// A certificate and its key as the platform keeps them.
struct Identity {
  Bytes certificateDer;
  std::string privateKeyPem;  // PKCS#8; encrypted with the password when one was given
  Bytes publicKeyDer;         // SubjectPublicKeyInfo
};

// Reads a certificate (DER or PEM) with its private key (PKCS#8 or the
// older PEM forms, plain or encrypted with the password), or a PKCS#12 file
// (keyFile empty) opened with the password. The key must belong to the
// certificate. Throws std::runtime_error with a reason a user can act on.
Identity readIdentity(const Bytes& file, const Bytes& keyFile, const std::string& password);
// The certificate alone, from DER or PEM.
Bytes readCertificate(const Bytes& file);

// A PKCS#12 file holding the certificate and its key, both encrypted with
// the password and the whole protected by a MAC made with it.
Bytes toPkcs12(const TestCertificate& certificate, const std::string& password);

// The certificate as PEM text ("-----BEGIN CERTIFICATE-----").
std::string toPem(const Bytes& der);
// SHA-1 of the bytes, as 40 upper-case hexadecimal digits.
std::string sha1Hex(const Bytes& bytes);

}  // namespace provisioning
