#include "support/gostsigning.h"

#include <tvplatform.h>

#include <gnutls/abstract.h>
#include <gnutls/crypto.h>
#include <gnutls/x509.h>
#include <nettle/ecc-curve.h>
#include <nettle/ecc.h>
#include <nettle/gostdsa.h>

#include <gtest/gtest.h>

#include "common/memoryoutputstream.h"
#include "csp++/cryptoutils.h"
#include "csp++/signtuple.h"
#include "csp++/x509certificate.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace tvtest {

namespace {

gnutls_datum_t view(const void* data, size_t size) {
  gnutls_datum_t datum;
  datum.data = static_cast<unsigned char*>(const_cast<void*>(data));
  datum.size = static_cast<unsigned>(size);
  return datum;
}

void check(int result, const char* what) {
  if (result < 0) throw std::runtime_error(std::string(what) + ": " + gnutls_strerror(result));
}

Bytes take(gnutls_datum_t& datum) {
  Bytes bytes(datum.data, datum.data + datum.size);
  gnutls_free(datum.data);
  return bytes;
}

}  // namespace

Bytes gostDigest(const Bytes& data) {
  Bytes digest(32);
  check(gnutls_hash_fast(GNUTLS_DIG_GOSTR_94, data.data(), data.size(), digest.data()), "hash");
  return digest;
}

Bytes gostDigest(const std::string& data) { return gostDigest(Bytes(data.begin(), data.end())); }

Bytes pemKeyDer(const std::string& pem) {
  const gnutls_datum_t text = view(pem.data(), pem.size());
  gnutls_datum_t der{};
  if (gnutls_pem_base64_decode2("PRIVATE KEY", &text, &der) < 0) return {};
  return take(der);
}

std::string signTupleText(const Bytes& providerSignature, const Bytes& certificateDer) {
  Sys::MemoryOutputStream stream;
  Aux::save_sign_tuple_to_stream(stream, providerSignature, Crypto::X509Certificate(certificateDer));
  return base64Encode(stream.data(), static_cast<DWORD>(stream.size()));
}

bool nettleVerifies(const Bytes& publicKeyDer, const Bytes& digest, const Bytes& providerSignature) {
  if (providerSignature.size() != 64 || digest.size() != 32) return false;
  gnutls_pubkey_t key;
  check(gnutls_pubkey_init(&key), "pubkey");
  const gnutls_datum_t der = view(publicKeyDer.data(), publicKeyDer.size());
  gnutls_datum_t x, y;
  int result = gnutls_pubkey_import(key, &der, GNUTLS_X509_FMT_DER);
  if (result >= 0) result = gnutls_pubkey_export_gost_raw2(key, nullptr, nullptr, nullptr, &x, &y, 0);
  gnutls_pubkey_deinit(key);
  check(result, "public key");

  // GnuTLS gives GOST coordinates little-endian, as the key info holds them;
  // the provider's signature is RFC 4491's (s then r, big-endian) reversed.
  const Bytes rfc(providerSignature.rbegin(), providerSignature.rend());
  mpz_t px, py;
  mpz_inits(px, py, nullptr);
  mpz_import(px, x.size, -1, 1, 0, 0, x.data);
  mpz_import(py, y.size, -1, 1, 0, 0, y.data);
  gnutls_free(x.data);
  gnutls_free(y.data);
  ecc_point point;
  ecc_point_init(&point, nettle_get_gost_gc256b());
  dsa_signature signature;
  dsa_signature_init(&signature);
  mpz_import(signature.s, 32, 1, 1, 0, 0, rfc.data());
  mpz_import(signature.r, 32, 1, 1, 0, 0, rfc.data() + 32);
  const bool valid =
      ecc_point_set(&point, px, py) != 0 && gostdsa_verify(&point, digest.size(), digest.data(), &signature) != 0;
  dsa_signature_clear(&signature);
  ecc_point_clear(&point);
  mpz_clears(px, py, nullptr);
  return valid;
}

std::string parameterSetName(const ::testing::TestParamInfo<KeyKind>& info) {
  return info.param == KeyKind::Gost2001ParamSetA ? "ParamSet35_1" : "ParamSet36_0";
}

Bytes withParamSet35(const Bytes& der, unsigned char last) {
  const Bytes oid = {0x06, 0x07, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
  Bytes patched = der;
  auto at = std::search(patched.begin(), patched.end(), oid.begin(), oid.end());
  if (at == patched.end()) throw std::runtime_error("no parameter set 35.1 in the key");
  *(at + 8) = last;
  return patched;
}

std::string privateKeyWithParamSet35(const std::string& pem, unsigned char last) {
  const gnutls_datum_t text = view(pem.data(), pem.size());
  gnutls_datum_t der{};
  check(gnutls_pem_base64_decode2("PRIVATE KEY", &text, &der), "PEM");
  const Bytes patched = withParamSet35(take(der), last);
  const gnutls_datum_t patchedDer = view(patched.data(), patched.size());
  gnutls_datum_t out{};
  check(gnutls_pem_base64_encode2("PRIVATE KEY", &patchedDer, &out), "PEM");
  const Bytes bytes = take(out);
  return std::string(bytes.begin(), bytes.end());
}

void installKeyContainer(const std::string& name, const std::string& privatePem, const Bytes& publicDer) {
  ASSERT_TRUE(TvCreateKeyContainer(name.c_str(), privatePem.c_str(), publicDer.data(),
                                   static_cast<DWORD>(publicDer.size())))
      << "container " << name << ", error 0x" << std::hex << GetLastError();
}

std::string writePinentryScript(const std::string& folder, const std::string& getpinAnswer, bool stayAfterBye) {
  const std::string path = folder + "/pinentry-test";
  std::ofstream script(path, std::ios::trunc);
  script << "#!/bin/sh\n"
            "echo 'OK ready'\n"
            "while read -r command rest; do\n"
            "  case \"$command\" in\n"
            "    GETPIN) printf '%s\\n' '"
         << getpinAnswer
         << "'; case '" << getpinAnswer << "' in ERR*) ;; *) echo OK ;; esac ;;\n"
         << "    BYE) " << (stayAfterBye ? "exec sleep 3600" : "echo OK; exit 0") << " ;;\n"
            "    *) echo OK ;;\n"
            "  esac\n"
            "done\n";
  script.close();
  chmod(path.c_str(), 0700);
  return path;
}

}  // namespace tvtest

void provisioning::PrintTo(KeyKind kind, std::ostream* os) { *os << tvtest::parameterSetName({kind, 0}); }
