// `tellvane list` and `tellvane import`: the certificates of the user's
// personal store, as a page sees them and as files are put into it.
#include "commands.h"
#include "text.h"

#include "shared/clientcrypto.h"

#include <wincrypt.h>

#include <cstdio>
#include <stdexcept>

namespace tool {

int runList(const Arguments& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "usage: tellvane list\n");
    return 2;
  }
  ClientCrypto clicrypto;
  Bstr envelope;
  const HRESULT status = clicrypto.getCertListAsJson(nullptr, envelope.out());
  std::printf("%s\n", envelope.utf8().c_str());
  return SUCCEEDED(status) ? 0 : 1;
}

int runImport(const Arguments& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: tellvane import <certificate.der>\n");
    return 2;
  }
  try {
    const std::string bytes = readFileBytes(args[0]);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"My");
    if (store == nullptr) throw std::runtime_error("cannot open the personal store");
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                         reinterpret_cast<const BYTE*>(bytes.data()),
                                                         static_cast<DWORD>(bytes.size()), CERT_STORE_ADD_NEW, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
      std::fprintf(stderr, "tellvane import: refused (error 0x%08X)\n", error);
      return 1;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tellvane import: %s\n", error.what());
    return 1;
  }
  return 0;
}

}  // namespace tool
