#include "support/certfactory.h"

#include "support/tempprefix.h"

#include <cctype>

namespace tvtest {

std::string installCertificate(const std::string& prefix, const std::string& fileName, const Bytes& bytes,
                               const std::string& store) {
  return installCertificate(prefix, fileName, std::string(bytes.begin(), bytes.end()), store);
}

std::string installCertificate(const std::string& prefix, const std::string& fileName, const std::string& bytes,
                               const std::string& store) {
  std::string path = prefix + "/certstores/user/" + store + "/" + fileName;
  writeFile(path, bytes);
  return path;
}

namespace {

// A definite DER length.
void appendLength(Bytes& der, size_t length) {
  if (length < 0x80) {
    der.push_back(static_cast<unsigned char>(length));
    return;
  }
  Bytes digits;
  for (; length != 0; length >>= 8) digits.insert(digits.begin(), static_cast<unsigned char>(length));
  der.push_back(static_cast<unsigned char>(0x80 | digits.size()));
  der.insert(der.end(), digits.begin(), digits.end());
}

}  // namespace

Name manyRdns(int count) {
  Bytes rdns;
  for (int i = 0; i < count; ++i) {
    const Bytes value = derString(0x13, std::to_string(i));
    const Bytes attribute = fromHex("0603550403");  // 2.5.4.3, the common name
    rdns.push_back(0x31);
    appendLength(rdns, attribute.size() + value.size() + 2);
    rdns.push_back(0x30);
    appendLength(rdns, attribute.size() + value.size());
    rdns.insert(rdns.end(), attribute.begin(), attribute.end());
    rdns.insert(rdns.end(), value.begin(), value.end());
  }
  Bytes der{0x30};
  appendLength(der, rdns.size());
  der.insert(der.end(), rdns.begin(), rdns.end());
  return Name{{}, der};
}

std::string identifierFrom(const std::string& description) {
  std::string name;
  for (char c : description) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      name += c;
    else if (!name.empty() && name.back() != '_')
      name += '_';
  }
  return name;
}

}  // namespace tvtest
