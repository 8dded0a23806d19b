// Name strings: CertNameToStrW/A and CertGetNameStringW/A. GnuTLS decodes
// the name; the text follows Windows: RDNs in encoded order, ", " between
// RDNs and " + " inside a multi-valued one, Windows' attribute keys or
// "OID." and the dotted OID, quoting of values that need it, "#" and hex
// for values that are not strings. The A forms write the wide text once
// and convert it to the thread's ANSI code page.
#include "crypt32/certcontext.h"
#include "internal/hex.h"
#include "internal/utf.h"
#include "internal/win32call.h"

#include <winbase.h>
#include <wincrypt.h>
#include <winnls.h>

#include <libtasn1.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>

namespace tv {

namespace {

struct Attribute {
  std::string oid;
  Bytes element;   // the value's complete DER (tag, length, contents)
  Bytes contents;  // the value's contents
};
using Rdn = std::vector<Attribute>;

// DER identifier octets of the string types a name may hold.
enum : unsigned char {
  kOctetString = 0x04,
  kUtf8String = 0x0C,
  kNumericString = 0x12,
  kPrintableString = 0x13,
  kTeletexString = 0x14,
  kVideotexString = 0x15,
  kIa5String = 0x16,
  kGraphicString = 0x19,
  kVisibleString = 0x1A,
  kGeneralString = 0x1B,
  kUniversalString = 0x1C,
  kBmpString = 0x1E,
};

// One DER element inside [begin, end): its tag byte, where its contents
// begin and where it ends. libtasn1 checks that the length fits.
struct Element {
  unsigned char tag;
  const unsigned char* contents;
  const unsigned char* end;
};

Element readElement(const unsigned char* begin, const unsigned char* end) {
  if (begin == end) fail(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
  const int available = static_cast<int>(std::min<ptrdiff_t>(end - begin, INT_MAX));
  unsigned char tagClass = 0;
  int tagSize = 0;
  unsigned long tag = 0;
  if (asn1_get_tag_der(begin, available, &tagClass, &tagSize, &tag) != ASN1_SUCCESS)
    fail(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  int lengthSize = 0;
  const long length = asn1_get_length_der(begin + tagSize, available - tagSize, &lengthSize);
  if (length == -4) fail(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
  if (length < 0) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  const unsigned char* contents = begin + tagSize + lengthSize;
  return Element{begin[0], contents, contents + length};
}

Element readElement(const unsigned char* begin, const unsigned char* end, unsigned char expectedTag) {
  Element element = readElement(begin, end);
  if (element.tag != expectedTag) fail(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  return element;
}

// Name ::= SEQUENCE OF SET OF SEQUENCE { type OID, value ANY }, read in one
// pass: the cost grows with the name's size and nothing else.
std::vector<Rdn> decodeName(const CERT_NAME_BLOB& blob) {
  if (blob.cbData == 0) fail(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
  require(blob.pbData != nullptr, static_cast<DWORD>(E_INVALIDARG));
  const unsigned char* const blobEnd = blob.pbData + blob.cbData;
  const Element name = readElement(blob.pbData, blobEnd, 0x30);
  if (name.end != blobEnd) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));

  std::vector<Rdn> rdns;
  for (const unsigned char* r = name.contents; r != name.end;) {
    const Element set = readElement(r, name.end, 0x31);
    if (set.contents == set.end) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));  // an RDN has a value
    Rdn rdn;
    for (const unsigned char* a = set.contents; a != set.end;) {
      const Element sequence = readElement(a, set.end, 0x30);
      const Element type = readElement(sequence.contents, sequence.end, 0x06);
      const Element value = readElement(type.end, sequence.end);
      if (value.end != sequence.end) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
      char oid[256];
      int oidSize = 0;
      if (asn1_get_object_id_der(sequence.contents + 1, static_cast<int>(type.end - sequence.contents - 1), &oidSize,
                                 oid, sizeof oid) != ASN1_SUCCESS)
        fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
      rdn.push_back(Attribute{oid, Bytes(type.end, value.end), Bytes(value.contents, value.end)});
      a = sequence.end;
    }
    rdns.push_back(std::move(rdn));
    r = set.end;
  }
  return rdns;
}

// Windows' keys for CERT_X500_NAME_STR (the names of OID group 5).
const char* x500Key(const std::string& oid) {
  static const std::map<std::string, const char*> keys = {
      {"2.5.4.3", "CN"},
      {"2.5.4.7", "L"},
      {"2.5.4.10", "O"},
      {"2.5.4.11", "OU"},
      {"1.2.840.113549.1.9.1", "E"},
      {"2.5.4.6", "C"},
      {"2.5.4.8", "S"},
      {"2.5.4.9", "STREET"},
      {"2.5.4.12", "T"},
      {"2.5.4.42", "G"},
      {"2.5.4.43", "I"},
      {"2.5.4.4", "SN"},
      {"0.9.2342.19200300.100.1.25", "DC"},
      {"2.5.4.13", "Description"},
      {"2.5.4.17", "PostalCode"},
      {"2.5.4.18", "POBox"},
      {"2.5.4.20", "Phone"},
      {"2.5.4.24", "X21Address"},
      {"2.5.4.46", "dnQualifier"},
      {"2.5.4.5", "SERIALNUMBER"},
      {"2.23.133.2.1", "TPMManufacturer"},
      {"2.23.133.2.2", "TPMModel"},
      {"2.23.133.2.3", "TPMVersion"},
  };
  auto found = keys.find(oid);
  return found != keys.end() ? found->second : nullptr;
}

std::u16string widened(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::u16string latin1(const Bytes& bytes) { return std::u16string(bytes.begin(), bytes.end()); }

std::u16string bigEndianUnits(const Bytes& bytes, size_t unit) {
  if (bytes.size() % unit != 0) fail(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  std::u16string out;
  for (size_t i = 0; i < bytes.size(); i += unit) {
    char32_t cp = 0;
    for (size_t k = 0; k < unit; ++k) cp = cp << 8 | bytes[i + k];
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp);
    }
  }
  return out;
}

// "#" and the bytes in hexadecimal.
std::u16string hashForm(const Bytes& bytes) {
  const std::string digits = hexText(bytes.data(), bytes.size());
  return u"#" + std::u16string(digits.begin(), digits.end());
}

// The value as text; `isString` is false for the "#" and hex form.
std::u16string valueText(const Attribute& attribute, DWORD flags, bool& isString) {
  isString = true;
  const Bytes& contents = attribute.contents;
  switch (attribute.element[0]) {
    case kUtf8String:
      return toUtf16(reinterpret_cast<const char*>(contents.data()), contents.size());
    case kBmpString:
      return bigEndianUnits(contents, 2);
    case kUniversalString:
      return bigEndianUnits(contents, 4);
    case kTeletexString:
      // Tried as UTF-8 first, as Windows does unless told not to.
      if (!(flags & CERT_NAME_STR_DISABLE_IE4_UTF8_FLAG)) {
        const char* text = reinterpret_cast<const char*>(contents.data());
        if (isUtf8(text, contents.size())) return toUtf16(text, contents.size());
      }
      return latin1(contents);
    case kNumericString:
    case kPrintableString:
    case kVideotexString:
    case kIa5String:
    case kGraphicString:
    case kVisibleString:
    case kGeneralString:
      return latin1(contents);
    case kOctetString:
      isString = false;
      return hashForm(contents);
    default:
      isString = false;
      return hashForm(attribute.element);
  }
}

bool isAsciiSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r'; }

std::u16string quoted(const std::u16string& value) {
  bool needsQuotes = value.empty() || isAsciiSpace(value.front()) || isAsciiSpace(value.back()) ||
                     value.find_first_of(u",+=\"<>#;\n") != std::u16string::npos;
  if (!needsQuotes) return value;
  std::u16string out = u"\"";
  for (char16_t c : value) {
    if (c == u'"') out += u'"';
    out += c;
  }
  return out + u"\"";
}

std::u16string renderName(const CERT_NAME_BLOB& blob, DWORD strType) {
  std::vector<Rdn> rdns = decodeName(blob);
  DWORD type = strType & 0xFFFF;
  if (type != CERT_SIMPLE_NAME_STR && type != CERT_OID_NAME_STR && type != CERT_X500_NAME_STR)
    fail(static_cast<DWORD>(E_INVALIDARG));
  if (strType & CERT_NAME_STR_REVERSE_FLAG) std::reverse(rdns.begin(), rdns.end());
  const char16_t* rdnSeparator = (strType & CERT_NAME_STR_SEMICOLON_FLAG) ? u"; "
                                 : (strType & CERT_NAME_STR_CRLF_FLAG)    ? u"\r\n"
                                                                          : u", ";
  const char16_t* avaSeparator = (strType & CERT_NAME_STR_NO_PLUS_FLAG) ? u" " : u" + ";

  std::u16string text;
  for (size_t r = 0; r < rdns.size(); ++r) {
    if (r != 0) text += rdnSeparator;
    for (size_t a = 0; a < rdns[r].size(); ++a) {
      const Attribute& attribute = rdns[r][a];
      if (a != 0) text += avaSeparator;
      if (type == CERT_OID_NAME_STR) {
        text += widened(attribute.oid) + u"=";
      } else if (type == CERT_X500_NAME_STR) {
        const char* key = x500Key(attribute.oid);
        text += (key != nullptr ? widened(key) : u"OID." + widened(attribute.oid)) + u"=";
      }
      bool isString = true;
      std::u16string value = valueText(attribute, strType, isString);
      text += isString && !(strType & CERT_NAME_STR_NO_QUOTING_FLAG) ? quoted(value) : value;
    }
  }
  return text;
}

// Callers ask twice for each name, once for the size and once for the text:
// the thread's last name is kept, so that it is read only once.
std::u16string nameToWide(const CERT_NAME_BLOB& blob, DWORD strType) {
  struct LastName {
    Bytes encoded;
    DWORD strType = 0;
    std::u16string text;
  };
  thread_local LastName last;
  if (blob.pbData != nullptr && strType == last.strType && blob.cbData == last.encoded.size() && blob.cbData != 0 &&
      std::memcmp(blob.pbData, last.encoded.data(), blob.cbData) == 0)
    return last.text;
  std::u16string text = renderName(blob, strType);
  last.encoded.assign(blob.pbData, blob.pbData + blob.cbData);
  last.strType = strType;
  last.text = text;
  return text;
}

// The first value of an attribute in a name, as plain text (no quoting);
// empty when the name lacks it or the value is not a string.
std::u16string attributeText(const CERT_NAME_BLOB& blob, const char* oid) {
  for (const Rdn& rdn : decodeName(blob))
    for (const Attribute& attribute : rdn)
      if (attribute.oid == oid) {
        bool isString = true;
        std::u16string value = valueText(attribute, 0, isString);
        return isString ? value : std::u16string();
      }
  return {};
}

// The text CertGetNameString gives: one attribute of the subject or issuer.
std::u16string certificateNameText(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara) {
  requireCertificateContext(context);
  if (type != CERT_NAME_ATTR_TYPE || typePara == nullptr) return {};
  const CERT_INFO& info = *context->pCertInfo;
  const CERT_NAME_BLOB& name = (flags & CERT_NAME_ISSUER_FLAG) ? info.Issuer : info.Subject;
  return attributeText(name, static_cast<const char*>(typePara));
}

std::string toThreadAnsi(const std::u16string& wide) {
  if (wide.empty()) return {};
  int size = WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                 nullptr);
  if (size <= 0) fail(GetLastError());
  std::string narrow(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), size, nullptr,
                          nullptr) != size)
    fail(GetLastError());
  return narrow;
}

// Runs a text producer for a name function, which never fails: a failure
// gives the empty text and its code as the last error; success sets 0.
template <class Text, class Producer>
Text nameText(Producer&& produce) {
  DWORD error = ERROR_SUCCESS;
  Text text;
  try {
    text = produce();
  } catch (const Win32Failure& failure) {
    error = failure.code;
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    error = ERROR_GEN_FAILURE;
  }
  SetLastError(error);
  return text;
}

// The wide size protocol: a buffer too small gets the text cut short.
DWORD copyTruncated(const std::u16string& text, LPWSTR out, DWORD capacity) {
  if (out == nullptr || capacity == 0) return static_cast<DWORD>(text.size() + 1);
  size_t count = std::min<size_t>(text.size(), capacity - 1);
  std::copy(text.begin(), text.begin() + count, out);
  out[count] = 0;
  return static_cast<DWORD>(count + 1);
}

}  // namespace

}  // namespace tv

WINCRYPT32API DWORD WINAPI CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                          LPWSTR psz, DWORD csz) {
  std::u16string text = tv::nameText<std::u16string>([&] {
    tv::require(pName != nullptr);
    if ((dwCertEncodingType & 0xFFFF) != X509_ASN_ENCODING) tv::fail(ERROR_FILE_NOT_FOUND);
    return tv::nameToWide(*pName, dwStrType);
  });
  return tv::copyTruncated(text, psz, csz);
}

WINCRYPT32API DWORD WINAPI CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                          LPSTR psz, DWORD csz) {
  std::string text = tv::nameText<std::string>([&] {
    tv::require(pName != nullptr);
    if ((dwCertEncodingType & 0xFFFF) != X509_ASN_ENCODING) tv::fail(ERROR_FILE_NOT_FOUND);
    return tv::toThreadAnsi(tv::nameToWide(*pName, dwStrType));
  });
  DWORD required = static_cast<DWORD>(text.size() + 1);
  if (psz == nullptr || csz == 0) return required;
  // Windows writes no partial text: a buffer too small gets an empty one.
  if (csz < required) {
    psz[0] = 0;
    return 1;
  }
  std::memcpy(psz, text.c_str(), required);
  return required;
}

WINCRYPT32API DWORD WINAPI CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                              void* pvTypePara, LPWSTR pszNameString, DWORD cchNameString) {
  std::u16string text = tv::nameText<std::u16string>(
      [&] { return tv::certificateNameText(pCertContext, dwType, dwFlags, pvTypePara); });
  return tv::copyTruncated(text, pszNameString, cchNameString);
}

WINCRYPT32API DWORD WINAPI CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                              void* pvTypePara, LPSTR pszNameString, DWORD cchNameString) {
  // A failure of the wide text stays the last error of this call.
  std::string text = tv::nameText<std::string>(
      [&] { return tv::toThreadAnsi(tv::certificateNameText(pCertContext, dwType, dwFlags, pvTypePara)); });
  if (pszNameString == nullptr || cchNameString == 0) return static_cast<DWORD>(text.size() + 1);
  size_t count = std::min<size_t>(text.size(), cchNameString - 1);
  std::memcpy(pszNameString, text.data(), count);
  pszNameString[count] = 0;
  return static_cast<DWORD>(count + 1);
}
