#include "support/certfactory.h"

#include "support/tempprefix.h"

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

}  // namespace tvtest
