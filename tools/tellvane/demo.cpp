// `tellvane demo`: runs the component's operations end to end in a
// throw-away platform prefix, so that it needs nothing set up beforehand.
#include "commands.h"
#include "keys.h"
#include "operations.h"
#include "verifier.h"

#include "csp++/cryptoutils.h"
#include "csp++/cspcontext.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tool {

namespace {

const char kText[] = "Привет, мир! Hello, world!";

// A platform prefix of its own for the demo's lifetime; the user's own
// certificates and keys are never touched.
class ThrowAwayPrefix {
 public:
  ThrowAwayPrefix() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tellvane-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
    setenv("TELLVANE_PREFIX", path_.c_str(), 1);
    setenv("TELLVANE_PINENTRY", "", 1);  // the demo's key has no PIN; never ask anyone
  }
  ~ThrowAwayPrefix() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ThrowAwayPrefix(const ThrowAwayPrefix&) = delete;
  ThrowAwayPrefix& operator=(const ThrowAwayPrefix&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Long Base64 results are shortened for the screen.
std::string shortened(const std::string& envelope) {
  const size_t limit = 110;
  return envelope.size() <= limit ? envelope : envelope.substr(0, limit - 8) + "..." + envelope.substr(envelope.size() - 5);
}

std::string resultOf(const std::string& envelope) {
  const std::string marker = "\"result\":\"";
  const size_t start = envelope.find(marker);
  if (envelope.rfind("{\"success\":true", 0) != 0 || start == std::string::npos)
    throw std::runtime_error("the operation failed: " + envelope);
  return envelope.substr(start + marker.size(), envelope.size() - start - marker.size() - 2);
}

// The digest a page would compute itself before calling signHash.
std::vector<BYTE> gostDigest(const std::string& utf8) {
  CspContext context(gostProviderName(), nullptr, PROV_GOST_2001_DH, CRYPT_VERIFYCONTEXT);
  CspHash hash(context.handle(), CALG_GR3411);
  hash.hashData(reinterpret_cast<const BYTE*>(utf8.data()), static_cast<DWORD>(utf8.size()));
  return hash.getHashValue();
}

bool showVerification(const TupleReport& report) {
  std::printf("   verified by the receiver: %zu-byte signature, certificate %s: %s\n", report.signatureSize,
              report.thumbprint.c_str(), report.valid ? "valid" : "INVALID");
  return report.valid;
}

int demo() {
  ThrowAwayPrefix prefix;
  std::printf("Tellvane demo, in the throw-away platform prefix %s\n\n", prefix.path().c_str());

  std::printf("1. A GOST R 34.10-2001 key and its certificate for the user\n");
  NewKeyRequest request;
  request.commonName = "Demo Signer";
  request.organization = "Tellvane";
  const NewKey key = makeSigningIdentity(request);
  std::printf("   key container %s, certificate thumbprint %s\n\n", key.container.c_str(), key.thumbprint.c_str());

  std::printf("2. getCertListAsJson: the page lists the personal certificates\n");
  std::printf("   %s\n\n", certificateListEnvelope().c_str());

  std::printf("3. signString: the page signs the text \"%s\"\n", kText);
  const std::string signedText = signingEnvelope(&ClientCrypto::signString, kText, key.thumbprint);
  std::printf("   %s\n", shortened(signedText).c_str());
  bool allValid = showVerification(checkSignTupleOverText(resultOf(signedText), kText));

  const std::vector<BYTE> digest = gostDigest(kText);
  const std::string digestText = base64Encode(digest);
  std::printf("\n4. signHash: the page signs the digest it computed itself, %s\n", digestText.c_str());
  const std::string signedHash = signingEnvelope(&ClientCrypto::signHash, digestText, key.thumbprint);
  std::printf("   %s\n", shortened(signedHash).c_str());
  allValid = showVerification(checkSignTupleOverDigest(resultOf(signedHash), digest)) && allValid;

  std::printf("\n5. A thumbprint that names no certificate gives an error envelope\n");
  std::printf("   %s\n", signingEnvelope(&ClientCrypto::signHash, digestText, std::string(40, '0')).c_str());
  std::printf("\n6. A digest of the wrong size\n");
  std::printf("   %s\n", signingEnvelope(&ClientCrypto::signHash, "AAAAAAAA", key.thumbprint).c_str());

  std::printf("\n%s\n", allValid ? "Both signatures verify." : "A signature did not verify.");
  return allValid ? 0 : 1;
}

}  // namespace

int runDemo(const Arguments& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "usage: tellvane demo\n");
    return 2;
  }
  return demo();
}

}  // namespace tool
