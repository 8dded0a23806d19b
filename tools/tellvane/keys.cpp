// `tellvane certs new`: a GOST R 34.10-2001 key with a self-issued certificate.
#include "keys.h"

#include "automation/automationclient.h"

#include "commands.h"
#include "options.h"
#include "provisioning/certificatemaker.h"

#include <tvplatform.h>
#include <wincrypt.h>

#include <cstdio>
#include <stdexcept>

namespace tool {

std::string platformError(const std::string& what) {
  return what + " (error " + automation::hresultText(HRESULT_FROM_WIN32(GetLastError())) + ")";
}

std::string containerNameFor(const std::string& thumbprint) { return "key-" + thumbprint.substr(0, 16); }

namespace {

// Names the certificate's key: the provider's container that holds it.
bool linkKey(PCCERT_CONTEXT certificate, const std::string& container) {
  std::u16string name = automation::toUtf16(container);
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = reinterpret_cast<LPWSTR>(name.data());
  info.dwProvType = PROV_GOST_2001_DH;
  info.dwKeySpec = AT_KEYEXCHANGE;
  return CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) != FALSE;
}

}  // namespace

void addToPersonalStore(const std::string& der, const std::string& container) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"My");
  if (store == nullptr) throw std::runtime_error(platformError("cannot open the personal store"));
  PCCERT_CONTEXT added = nullptr;
  std::string error;
  if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                        static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, &added))
    error = platformError("the personal store refused the certificate");
  else if (!container.empty() && !linkKey(added, container))
    error = platformError("the personal store cannot name the certificate's key");
  CertFreeCertificateContext(added);
  CertCloseStore(store, 0);
  if (!error.empty()) throw std::runtime_error(error);
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
  if (result.container.empty()) result.container = containerNameFor(result.thumbprint);
  const std::string privateKey =
      request.pin.empty() ? made.privateKeyPem : provisioning::encryptPrivateKey(made.privateKeyPem, request.pin);
  if (!TvCreateKeyContainer(result.container.c_str(), privateKey.c_str(), made.publicKeyDer.data(),
                            static_cast<DWORD>(made.publicKeyDer.size())))
    throw std::runtime_error(platformError("cannot create the key container"));
  addToPersonalStore(std::string(made.der.begin(), made.der.end()), result.container);
  return result;
}

int runCertsNew(const Arguments& args) {
  const ParsedArguments parsed =
      parseArguments(args, {{"cn", true}, {"org", true}, {"container", true}, {"paramset", true}, {"pin", true}});
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
