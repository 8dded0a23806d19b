// Adds the certificate of a PEM file to the current user's personal store,
// as a user's own certificate would be there.
//
//   storecert <certificate.pem> [<key container> [<provider type> <provider name>]]
//
// With a key container, the certificate also names its private key: that
// container of the GOST provider of that type and name (by default the test
// provider of GOST R 34.10-2001, type 75), as on a machine where such a
// provider holds the user's keys.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> readCertificate(const char* path) {
  std::ifstream file(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) return {};
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) return {};
  return der;
}

bool nameKey(PCCERT_CONTEXT context, const char* container, DWORD type, const char* provider) {
  std::wstring name(container, container + strlen(container)), providerName(provider, provider + strlen(provider));
  CRYPT_KEY_PROV_INFO info = {};
  info.pwszContainerName = &name[0];
  info.pwszProvName = &providerName[0];
  info.dwProvType = type;
  info.dwKeySpec = AT_KEYEXCHANGE;
  return CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc == 4 || argc > 5) {
    std::fprintf(stderr, "usage: storecert <certificate.pem> [<key container> [<provider type> <provider name>]]\n");
    return 2;
  }
  const std::vector<BYTE> der = readCertificate(argv[1]);
  HCERTSTORE store = CertOpenSystemStoreW(0, L"MY");
  // The key is named on a context of its own before the store copies it:
  // Wine keeps no property set later on the store's copy.
  PCCERT_CONTEXT context =
      der.empty() ? nullptr
                  : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  const DWORD type = argc == 5 ? std::strtoul(argv[3], nullptr, 10) : 75;
  const char* provider = argc == 5 ? argv[4] : "Tellvane GOST R 34.10-2001 Provider";
  const bool added = store != nullptr && context != nullptr && (argc == 2 || nameKey(context, argv[2], type, provider)) &&
                     CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (!added) std::fprintf(stderr, "storecert: cannot add the certificate of %s (%lu)\n", argv[1], GetLastError());
  if (context != nullptr) CertFreeCertificateContext(context);
  if (store != nullptr) CertCloseStore(store, 0);
  return added ? 0 : 1;
}
