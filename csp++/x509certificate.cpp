#include "csp++/x509certificate.h"

#include "common/exceptions.h"
#include "common/inputstream.h"
#include "common/jsonescape.h"
#include "common/outputstream.h"
#include "common/trace.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace Crypto {

namespace {

const char kSubjectSignTool[] = "1.2.643.100.111";
const char kIssuerSignTool[] = "1.2.643.100.112";

std::string nameText(const CERT_NAME_BLOB& name) {
  CERT_NAME_BLOB blob = name;  // the platform takes a non-const pointer
  DWORD size = CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0);
  if (size == 0) return std::string();
  std::vector<char> buffer(size);
  // The count written, not the first zero: a zero inside a value must not
  // hide the rest of the name.
  DWORD written = CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer.data(), size);
  if (written == 0 || written > size) return std::string();
  return std::string(buffer.data(), written - 1);
}

std::string timeText(const FILETIME& time) {
  SYSTEMTIME fields;
  check(FileTimeToSystemTime(&time, &fields));
  char text[64];
  std::snprintf(text, sizeof text, "%u-%02u-%02u %02u:%02u:%02u.%03u", fields.wYear, fields.wMonth, fields.wDay,
                fields.wHour, fields.wMinute, fields.wSecond, fields.wMilliseconds);
  return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

X509Certificate::X509Certificate() : context_(nullptr) { Sys::trace("X509Certificate::X509Certificate - empty CTOR"); }

X509Certificate::X509Certificate(PCCERT_CONTEXT context) : context_(nullptr) {
  Sys::trace("X509Certificate::X509Certificate - make duplicate of PCCERT_CONTEXT");
  if (context == nullptr) throw Error(ERROR_INVALID_PARAMETER);
  context_ = CertDuplicateCertificateContext(context);
}

X509Certificate::X509Certificate(const std::vector<BYTE>& encoded) : context_(nullptr) {
  Sys::trace("X509Certificate::X509Certificate - deserializing CTOR");
  if (encoded.empty()) throw Error(ERROR_INVALID_PARAMETER);
  context_ = CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(), static_cast<DWORD>(encoded.size()));
  check(context_ != nullptr);
}

X509Certificate::X509Certificate(const X509Certificate& other) : context_(nullptr) {
  Sys::trace("X509Certificate::X509Certificate - copy CTOR");
  if (other.context_ == nullptr) throw Error(ERROR_INVALID_PARAMETER);
  context_ = CertDuplicateCertificateContext(other.context_);
}

X509Certificate& X509Certificate::operator=(const X509Certificate& other) {
  Sys::trace("X509Certificate::operator =");
  if (other.context_ == nullptr) throw Error(ERROR_INVALID_PARAMETER);
  // The new reference first, so that assigning a certificate to itself
  // never lets the context go.
  PCCERT_CONTEXT previous = context_;
  context_ = CertDuplicateCertificateContext(other.context_);
  if (previous != nullptr) CertFreeCertificateContext(previous);
  return *this;
}

X509Certificate::~X509Certificate() {
  if (context_ != nullptr) {
    CertFreeCertificateContext(context_);
    context_ = nullptr;
  }
  Sys::trace("X509Certificate::~X509Certificate");
}

bool X509Certificate::isEmpty() const { return context_ == nullptr; }

PCCERT_CONTEXT X509Certificate::getContext() const { return context_; }

PCCERT_CONTEXT X509Certificate::held() const {
  if (context_ == nullptr) throw Error(ERROR_INVALID_PARAMETER);
  return context_;
}

std::string X509Certificate::thumbprint() const {
  PCCERT_CONTEXT context = held();
  DWORD size = 0;
  check(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, nullptr, &size));
  std::vector<BYTE> hash(size);
  check(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash.data(), &size));
  hash.resize(size);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(hash.size() * 2);
  for (BYTE byte : hash) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string X509Certificate::subjectFullName() const { return nameText(held()->pCertInfo->Subject); }

std::string X509Certificate::issuerFullName() const { return nameText(held()->pCertInfo->Issuer); }

std::string X509Certificate::notBefore() const { return timeText(held()->pCertInfo->NotBefore); }

std::string X509Certificate::notAfter() const { return timeText(held()->pCertInfo->NotAfter); }

std::string X509Certificate::publicKeyAlgorithm() const {
  const char* oid = held()->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
  return oid != nullptr ? oid : std::string();
}

std::string X509Certificate::toJson() const {
  // Names may hold quotation marks, backslashes and control characters;
  // bytes of 0x80 and above (the ANSI code page's letters) stay as they are.
  return "{" + quoted("Thumbprint") + ":" + quoted(thumbprint()) + "," + quoted("DistinguishedName") + ":" +
         quoted(Sys::escapeJson(subjectFullName())) + "," + quoted("IssuerDistinguishedName") + ":" +
         quoted(Sys::escapeJson(issuerFullName())) + "," + quoted("NotBefore") + ":" + quoted(notBefore()) + "," +
         quoted("NotAfter") + ":" + quoted(notAfter()) + "," + quoted("PublicKeyAlgorithm") + ":" +
         quoted(Sys::escapeJson(publicKeyAlgorithm())) + "}";
}

std::string X509Certificate::getNameOf(const char* oid, DWORD flags) const {
  PCCERT_CONTEXT context = held();
  void* type = const_cast<char*>(oid);
  DWORD size = CertGetNameStringA(context, CERT_NAME_ATTR_TYPE, flags, type, nullptr, 0);
  if (size <= 1) return std::string();
  std::vector<char> buffer(size);
  CertGetNameStringA(context, CERT_NAME_ATTR_TYPE, flags, type, buffer.data(), size);
  std::string text(buffer.data(), size - 1);
  if (text.find('\0') != std::string::npos)
    throw Sys::AssertionFailed("X509Certificate::getNameOf returns zeros in string!", __FILE__,
                               "Crypto::X509Certificate::getNameOf", __LINE__);
  return text;
}

std::string X509Certificate::subjectCommonName() const { return getNameOf(szOID_COMMON_NAME, 0); }

std::string X509Certificate::issuerCommonName() const { return getNameOf(szOID_COMMON_NAME, CERT_NAME_ISSUER_FLAG); }

std::string X509Certificate::subjectUnstructuredName() const { return getNameOf(szOID_RSA_unstructName, 0); }

std::vector<std::string> X509Certificate::getOids() const {
  PCCERT_CONTEXT context = held();
  DWORD size = 0;
  check(CertGetEnhancedKeyUsage(context, 0, nullptr, &size));
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
  check(CertGetEnhancedKeyUsage(context, 0, usage, &size));
  std::vector<std::string> oids;
  if (size < sizeof(CERT_ENHKEY_USAGE)) return oids;
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) oids.emplace_back(usage->rgpszUsageIdentifier[i]);
  return oids;
}

bool X509Certificate::hasSignToolExtensions() const {
  if (context_ == nullptr) throw std::invalid_argument("Invalid cert context");
  const CERT_INFO& info = *context_->pCertInfo;
  int count = 0;
  for (DWORD i = 0; i < info.cExtension; ++i) {
    const char* oid = info.rgExtension[i].pszObjId;
    if (std::strcmp(oid, kSubjectSignTool) == 0 || std::strcmp(oid, kIssuerSignTool) == 0) ++count;
  }
  return count == 2;
}

void X509Certificate::serialize(Sys::OutputStream& stream) const {
  PCCERT_CONTEXT context = held();
  const DWORD length = context->cbCertEncoded;
  const BYTE prefix[4] = {static_cast<BYTE>(length), static_cast<BYTE>(length >> 8), static_cast<BYTE>(length >> 16),
                          static_cast<BYTE>(length >> 24)};
  stream.write(prefix, sizeof prefix);
  stream.write(context->pbCertEncoded, length);
}

void X509Certificate::deserialize(Sys::InputStream& stream) {
  BYTE prefix[4];
  stream.readExact(prefix, sizeof prefix);
  const DWORD length = static_cast<DWORD>(prefix[0]) | static_cast<DWORD>(prefix[1]) << 8 |
                       static_cast<DWORD>(prefix[2]) << 16 | static_cast<DWORD>(prefix[3]) << 24;
  if (length == 0) throw std::runtime_error("Zero certificate length");
  // The length comes from outside: a stream that cannot hold that many
  // bytes is broken, and is reported so before any memory is set aside.
  const ULONGLONG remaining = stream.size() > stream.position() ? stream.size() - stream.position() : 0;
  if (remaining == 0) throw std::runtime_error("Broken stream (1)");
  if (length > remaining) throw std::runtime_error("Broken stream (2)");
  std::vector<BYTE> encoded(length);
  stream.readExact(encoded.data(), length);
  PCCERT_CONTEXT created = CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(), length);
  check(created != nullptr);
  if (context_ != nullptr) CertFreeCertificateContext(context_);
  context_ = created;
}

}  // namespace Crypto
