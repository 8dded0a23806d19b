// `tellvane new-key`: a GOST R 34.10-2001 key with a self-signed certificate.
#include "keys.h"

#include "commands.h"
#include "options.h"
#include "provisioning/certificatemaker.h"

#include <tvplatform.h>
#include <wincrypt.h>

#include <cstdio>
#include <stdexcept>

namespace tool {

namespace {

std::string platformError(const char* what) {
  char text[96];
  std::snprintf(text, sizeof(text), "%s (error 0x%08X)", what, GetLastError());
  return text;
}

}  // namespace

void addToPersonalStore(const std::string& der) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"My");
  if (store == nullptr) throw std::runtime_error(platformError("cannot open the personal store"));
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                       static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, nullptr);
  const std::string error = added ? "" : platformError("the personal store refused the certificate");
  CertCloseStore(store, 0);
  if (!added) throw std::runtime_error(error);
}

NewKey makeSigningIdentity(const NewKeyRequest& request) {
  provisioning::CertificateOptions options;
  if (request.parameterSet == "A")
    options.key = provisioning::KeyKind::Gost2001ParamSetA;
  else if (request.parameterSet == "XA")
    options.key = provisioning::KeyKind::Gost2001ParamSetXchA;
  else
    throw std::runtime_error("unknown parameter set '" + request.parameterSet + "' (A or XA)");
  options.subject = provisioning::commonName(request.commonName);
  if (!request.organization.empty())
    options.subject.rdns.insert(options.subject.rdns.begin(),
                                provisioning::textAttribute("2.5.4.10", request.organization));
  options.keyUsages = {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"};  // client authentication, e-mail protection

  const provisioning::TestCertificate made = provisioning::makeCertificate(options);
  NewKey result{request.container, provisioning::sha1Hex(made.der)};
  if (result.container.empty()) result.container = "key-" + result.thumbprint.substr(0, 16);
  const std::string privateKey =
      request.pin.empty() ? made.privateKeyPem : provisioning::encryptPrivateKey(made.privateKeyPem, request.pin);
  if (!TvCreateKeyContainer(result.container.c_str(), privateKey.c_str(), made.publicKeyDer.data(),
                            static_cast<DWORD>(made.publicKeyDer.size())))
    throw std::runtime_error(platformError("cannot create the key container"));
  addToPersonalStore(std::string(made.der.begin(), made.der.end()));
  return result;
}

int runNewKey(const Arguments& args) {
  ParsedArguments parsed;
  if (!parseArguments(args, {"cn", "org", "container", "paramset", "pin"}, parsed) || !parsed.positional.empty()) {
    std::fprintf(stderr,
                 "usage: tellvane new-key [--cn NAME] [--org NAME] [--container NAME] [--paramset A|XA] [--pin PIN]\n");
    return 2;
  }
  NewKeyRequest request;
  request.commonName = parsed.option("cn", request.commonName);
  request.organization = parsed.option("org");
  request.container = parsed.option("container");
  request.parameterSet = parsed.option("paramset", request.parameterSet);
  request.pin = parsed.option("pin");
  const NewKey key = makeSigningIdentity(request);
  std::printf("container  %s\nthumbprint %s\n", key.container.c_str(), key.thumbprint.c_str());
  return 0;
}

}  // namespace tool
