// `tellvane demo`: the component end to end, reached as a page's script
// reaches it, in a throw-away platform prefix, so that it needs nothing set
// up beforehand and leaves nothing behind.
#include "commands.h"
#include "component.h"
#include "keys.h"
#include "options.h"
#include "verifier.h"

#include "csp++/cryptoutils.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tool {

namespace {

const char kText[] = "Привет, мир! Hello, world!";

// A platform prefix of its own for the demo's lifetime; the user's own
// registry, certificates and keys are never touched.
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

// Registered for this user while the demo runs.
class UserRegistration {
 public:
  explicit UserRegistration(std::string library) : library_(std::move(library)) {
    check(registerComponent(library_, Registration::User, false), "DllInstall(TRUE, \"user\")");
  }
  ~UserRegistration() { registerComponent(library_, Registration::User, true); }
  UserRegistration(const UserRegistration&) = delete;
  UserRegistration& operator=(const UserRegistration&) = delete;

  static void check(HRESULT result, const char* call) {
    std::printf("   %s: %s\n", call, automation::hresultText(result).c_str());
    if (FAILED(result)) throw std::runtime_error(std::string(call) + " failed");
  }

 private:
  std::string library_;
};

// A sign tuple's long Base64 is shortened for the screen; other envelopes
// are shown whole.
std::string shortened(const std::string& envelope) {
  const size_t limit = 110;
  if (envelope.size() <= limit || envelope.rfind("{\"success\":true,\"result\":\"", 0) != 0) return envelope;
  return envelope.substr(0, limit - 8) + "..." + envelope.substr(envelope.size() - 5);
}

// Shows the call as a script would write it, and its envelope.
std::string call(const std::string& method, const std::vector<automation::Argument>& arguments) {
  const std::string envelope = callComponent(method, arguments);
  std::printf("   %s\n", shortened(envelope).c_str());
  return envelope;
}

bool verified(const std::string& envelope, const std::vector<BYTE>& digest) {
  const TupleReport report = checkSignTuple(signTupleBytes(envelope), digest);
  std::printf("   verified by the receiver: %zu-byte signature by %s: %s\n", report.signatureSize,
              report.subject.c_str(), report.valid ? "valid" : "INVALID");
  return report.valid;
}

int demo() {
  const std::string library = installedComponent();
  ThrowAwayPrefix prefix;
  std::printf("Tellvane demo, in the throw-away platform prefix %s\n\n", prefix.path().c_str());

  std::printf("1. tellvane register --user: the component %s, for this user\n", library.c_str());
  UserRegistration registration(library);

  std::printf("\n2. tellvane certs new --algorithm 2012-256: a GOST R 34.10-2012 key (256 bits, parameter set A) "
              "and its certificate\n");
  NewKeyRequest request;
  request.algorithm = "2012-256";
  request.commonName = "Иван Петрович Сидоров";
  request.organization = "ООО «Демонстрация»";
  const NewKey key = makeSigningIdentity(request);
  std::printf("   key container %s, certificate thumbprint %s\n", key.container.c_str(), key.thumbprint.c_str());

  std::printf("\n3. new ActiveXObject(\"%s\").getCertListAsJson(null)\n", kProgId);
  call("getCertListAsJson", {std::nullopt});

  std::printf("\n4. signString(\"%s\", thumbprint, null)\n", kText);
  const std::string signedText = call("signString", {kText, key.thumbprint, std::nullopt});
  ParsedArguments text;
  text.options.emplace("text", kText);
  // The key signs Streebog-256 digests.
  const std::vector<BYTE> digest = digestOfInput(text, CALG_GR3411_2012_256);
  bool allValid = verified(signedText, digest);

  const std::string digestText = base64Encode(digest);
  std::printf("\n5. signHash(\"%s\", thumbprint, null): the digest the page computed itself\n", digestText.c_str());
  allValid = verified(call("signHash", {digestText, key.thumbprint, std::nullopt}), digest) && allValid;

  std::printf("\n6. signHash with a thumbprint that names no certificate: an error envelope\n");
  call("signHash", {digestText, std::string(40, '0'), std::nullopt});

  std::printf("\n%s\n", allValid ? "Both signatures verify." : "A signature did not verify.");
  return allValid ? 0 : 1;
}

}  // namespace

int runDemo(const Arguments& args) {
  parseArguments(args, {});
  return demo();
}

}  // namespace tool
