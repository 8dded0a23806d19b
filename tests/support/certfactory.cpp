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

Name manyRdns(int count) {
  auto text = [](const Bytes& der) { return std::string(der.begin(), der.end()); };
  std::string rdns;
  for (int i = 0; i < count; ++i) {
    const std::string attribute = "\x06\x03\x55\x04\x03" + text(derString(0x13, std::to_string(i)));  // CN
    rdns += text(derString(0x31, text(derString(0x30, attribute))));
  }
  return Name{{}, derString(0x30, rdns)};
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
