// One X.509 certificate held by the platform's certificate services: a value
// type owning one reference to a certificate context (or none, when empty),
// and the texts the client operations hand out about it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace Sys {
class OutputStream;
class InputStream;
}  // namespace Sys

namespace Crypto {

class X509Certificate {
 public:
  // An empty certificate.
  X509Certificate();
  // Takes a reference of its own on the context; the caller keeps its own.
  // A null context raises Crypto::Error 87.
  explicit X509Certificate(PCCERT_CONTEXT context);
  // A certificate from its DER encoding. An empty vector raises
  // Crypto::Error 87; an encoding the platform refuses, its error.
  explicit X509Certificate(const std::vector<BYTE>& encoded);
  // Copies share the context, each with its own reference. Copying or
  // assigning from an empty certificate raises Crypto::Error 87.
  X509Certificate(const X509Certificate& other);
  X509Certificate& operator=(const X509Certificate& other);
  ~X509Certificate();

  bool isEmpty() const;
  // The held context, borrowed: valid while this object lives.
  PCCERT_CONTEXT getContext() const;

  // The SHA-1 hash property as 40 upper-case hexadecimal digits.
  std::string thumbprint() const;
  // The names as the platform writes them (X.500 form, ANSI code page).
  std::string subjectFullName() const;
  std::string issuerFullName() const;
  // The validity period as "YYYY-MM-DD hh:mm:ss.mmm", in UTC.
  std::string notBefore() const;
  std::string notAfter() const;
  // The subject public key's algorithm, as its OID in dotted text.
  std::string publicKeyAlgorithm() const;
  // The certificate's element of the certificate list: six members, names
  // escaped for JSON, no white space. The last, the key's algorithm, tells a
  // page which digest the key signs.
  std::string toJson() const;

  // One name attribute by OID: flags 0 for the subject, 1
  // (CERT_NAME_ISSUER_FLAG) for the issuer; empty when the name lacks it.
  std::string getNameOf(const char* oid, DWORD flags) const;
  std::string subjectCommonName() const;
  std::string issuerCommonName() const;
  std::string subjectUnstructuredName() const;
  // The enhanced key usage OIDs, in the platform's order.
  std::vector<std::string> getOids() const;
  // Whether the certificate carries both signature-tool extensions
  // (1.2.643.100.111 and 1.2.643.100.112).
  bool hasSignToolExtensions() const;

  // The serialised form: the length of the encoding (4 bytes,
  // little-endian), then the DER encoding.
  void serialize(Sys::OutputStream& stream) const;
  void deserialize(Sys::InputStream& stream);

 private:
  // The context, for operations that need a certificate: an empty one
  // raises Crypto::Error 87.
  PCCERT_CONTEXT held() const;

  PCCERT_CONTEXT context_;
};

}  // namespace Crypto
