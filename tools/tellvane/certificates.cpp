// `tellvane certs list|import|remove`: the user's personal store and the
// key containers of its certificates.
#include "commands.h"
#include "keys.h"
#include "options.h"

#include "automation/automationclient.h"
#include "csp++/x509certificate.h"
#include "provisioning/certificatemaker.h"

#include <tvplatform.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tool {

namespace {

// Larger files are no certificates or keys.
constexpr std::streamsize kMaximumFile = 1 << 20;

provisioning::Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  provisioning::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || static_cast<std::streamsize>(bytes.size()) > kMaximumFile)
    throw std::runtime_error("cannot read " + path + ": not a certificate or key file");
  return bytes;
}

// The personal store, open for one command.
class PersonalStore {
 public:
  PersonalStore() : store_(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"My")) {
    if (store_ == nullptr) throw std::runtime_error(platformError("cannot open the personal store"));
  }
  ~PersonalStore() { CertCloseStore(store_, 0); }
  PersonalStore(const PersonalStore&) = delete;
  PersonalStore& operator=(const PersonalStore&) = delete;

  // Calls visit for each certificate until it returns false.
  template <class Visit>
  void forEach(Visit visit) const {
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store_, nullptr); context != nullptr;
         context = CertEnumCertificatesInStore(store_, context)) {
      if (!visit(context)) {
        CertFreeCertificateContext(context);
        return;
      }
    }
  }

 private:
  HCERTSTORE store_;
};

// The provider context of a certificate's private key, released with it.
class PrivateKey {
 public:
  PrivateKey(PCCERT_CONTEXT certificate, DWORD flags) {
    BOOL callerFrees = FALSE;
    if (!CryptAcquireCertificatePrivateKey(certificate, flags, nullptr, &provider_, nullptr, &callerFrees))
      status_ = GetLastError();
  }
  ~PrivateKey() {
    if (status_ == 0) CryptReleaseContext(provider_, 0);
  }
  PrivateKey(const PrivateKey&) = delete;
  PrivateKey& operator=(const PrivateKey&) = delete;

  DWORD status() const { return status_; }
  std::string container() const {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!CryptGetProvParam(provider_, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0)) return {};
    return name;
  }

 private:
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider_ = 0;
  DWORD status_ = 0;
};

// Whether a certificate's key can sign now, without asking anyone.
std::string keyState(PCCERT_CONTEXT certificate) {
  const PrivateKey key(certificate, CRYPT_ACQUIRE_SILENT_FLAG);
  if (key.status() == 0) return "in container " + key.container();
  if (key.status() == static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY)) return "none";
  if (key.status() == static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER)) return "protected by a PIN";
  return "unusable (" + automation::hresultText(HRESULT_FROM_WIN32(key.status())) + ")";
}

void createContainer(const std::string& name, const provisioning::Identity& identity) {
  if (!TvCreateKeyContainer(name.c_str(), identity.privateKeyPem.c_str(), identity.publicKeyDer.data(),
                            static_cast<DWORD>(identity.publicKeyDer.size())))
    throw std::runtime_error(platformError("cannot create the key container " + name));
}

}  // namespace

int runCertsList(const Arguments& args) {
  parseArguments(args, {});
  size_t count = 0;
  PersonalStore().forEach([&](PCCERT_CONTEXT context) {
    const Crypto::X509Certificate certificate(context);
    std::printf("%s%s\n  subject  %s\n  valid    %s to %s UTC\n  key      %s\n", count++ ? "\n" : "",
                certificate.thumbprint().c_str(), certificate.subjectFullName().c_str(),
                certificate.notBefore().substr(0, 19).c_str(), certificate.notAfter().substr(0, 19).c_str(),
                keyState(context).c_str());
    return true;
  });
  if (count == 0) std::printf("The personal store holds no certificate.\n");
  return 0;
}

int runCertsImport(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"key", true}, {"password", true}}, 1, 1);
  const provisioning::Bytes file = readFile(parsed.positional[0]);
  const std::string password = parsed.option("password");
  provisioning::Identity identity;
  bool withKey = true;
  if (parsed.has("key")) {
    identity = provisioning::readIdentity(file, readFile(parsed.option("key")), password);
  } else {
    try {
      identity.certificateDer = provisioning::readCertificate(file);
      withKey = false;
    } catch (const std::runtime_error&) {
      identity = provisioning::readIdentity(file, {}, password);  // a PKCS#12 file
    }
  }
  const std::string thumbprint = provisioning::sha1Hex(identity.certificateDer);
  // The key goes in first: a certificate listed without its key would
  // look unusable.
  const std::string container = containerNameFor(thumbprint);
  if (withKey) createContainer(container, identity);
  try {
    addToPersonalStore(std::string(identity.certificateDer.begin(), identity.certificateDer.end()),
                       withKey ? container : "");
  } catch (...) {
    if (withKey) {
      HCRYPTPROV none = 0;
      CryptAcquireContextA(&none, container.c_str(), nullptr, PROV_GOST_2001_DH, CRYPT_DELETEKEYSET);
    }
    throw;
  }
  std::printf("thumbprint %s\n", thumbprint.c_str());
  if (withKey) std::printf("container  %s\n", container.c_str());
  return 0;
}

int runCertsRemove(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"with-key", false}}, 1, 1);
  const std::string& thumbprint = parsed.positional[0];
  PersonalStore store;
  PCCERT_CONTEXT found = nullptr;
  store.forEach([&](PCCERT_CONTEXT context) {
    if (Crypto::X509Certificate(context).thumbprint() != thumbprint) return true;
    found = CertDuplicateCertificateContext(context);
    return false;
  });
  if (found == nullptr)
    throw std::runtime_error("no certificate in the personal store has the thumbprint " + thumbprint);

  std::string container;
  if (parsed.has("with-key")) {
    // A key protected by a PIN is opened with it: removing it is the owner's act.
    const PrivateKey key(found, 0);
    if (key.status() != 0) {
      CertFreeCertificateContext(found);
      throw std::runtime_error(platformError("cannot reach the certificate's key"));
    }
    container = key.container();
  }
  if (!CertDeleteCertificateFromStore(found)) throw std::runtime_error(platformError("cannot remove the certificate"));
  std::printf("removed certificate %s\n", thumbprint.c_str());
  if (container.empty()) return 0;
  HCRYPTPROV none = 0;
  if (!CryptAcquireContextA(&none, container.c_str(), nullptr, PROV_GOST_2001_DH, CRYPT_DELETEKEYSET))
    throw std::runtime_error(platformError("cannot remove the key container " + container));
  std::printf("removed key container %s\n", container.c_str());
  return 0;
}

}  // namespace tool
