// Adds the certificates of a PEM file to the current user's personal store,
// as a user's own certificates would be there.
//
//   storecert <certificates.pem> [<key container>]
//
// With a key container, each certificate also names its private key: that
// container of a GOST R 34.10-2001 provider (type 75), as on a machine where
// such a provider holds the user's keys.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr DWORD kGostProviderType = 75;

std::vector<BYTE> decodePem(const std::string& block) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(block.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) return {};
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(block.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) return {};
  der.resize(size);
  return der;
}

std::vector<std::vector<BYTE>> readCertificates(const char* path) {
  std::ifstream file(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string end = "-----END CERTIFICATE-----";
  std::vector<std::vector<BYTE>> certificates;
  for (size_t at = text.find("-----BEGIN CERTIFICATE-----"); at != std::string::npos;
       at = text.find("-----BEGIN CERTIFICATE-----", at + 1)) {
    const size_t stop = text.find(end, at);
    if (stop == std::string::npos) break;
    certificates.push_back(decodePem(text.substr(at, stop + end.size() - at)));
  }
  return certificates;
}

bool nameKey(PCCERT_CONTEXT context, const char* container) {
  std::wstring name(container, container + strlen(container));
  CRYPT_KEY_PROV_INFO info = {};
  info.pwszContainerName = &name[0];
  info.pwszProvName = const_cast<LPWSTR>(L"Tellvane GOST R 34.10-2001 Provider");
  info.dwProvType = kGostProviderType;
  info.dwKeySpec = AT_KEYEXCHANGE;
  return CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: storecert <certificates.pem> [<key container>]\n");
    return 2;
  }
  const auto certificates = readCertificates(argv[1]);
  if (certificates.empty()) {
    std::fprintf(stderr, "storecert: no certificate in %s\n", argv[1]);
    return 1;
  }
  HCERTSTORE store = CertOpenSystemStoreW(0, L"MY");
  if (store == nullptr) {
    std::fprintf(stderr, "storecert: cannot open the personal store (%lu)\n", GetLastError());
    return 1;
  }
  int failures = 0;
  for (const auto& der : certificates) {
    // The key is named on a context of its own before the store copies it:
    // Wine keeps no property set later on the store's copy.
    PCCERT_CONTEXT context =
        der.empty() ? nullptr
                    : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (context == nullptr || (argc == 3 && !nameKey(context, argv[2])) ||
        !CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      std::fprintf(stderr, "storecert: cannot add a certificate of %s (%lu)\n", argv[1], GetLastError());
      ++failures;
    }
    if (context != nullptr) CertFreeCertificateContext(context);
  }
  CertCloseStore(store, 0);
  return failures;
}
