// The tellvane command driven as a user drives it, in a fresh platform
// prefix per test: its exit status, what it prints, what it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "csp++/cryptoutils.h"
#include "support/certfactory.h"
#include "support/process.h"
#include "support/tempprefix.h"

namespace {

using Outcome = tvtest::ProgramRun;

class Command : public testing::Test {
 protected:
  static Outcome tellvane(const std::vector<std::string>& args, const std::string& input = "") {
    return tvtest::runProgram(TELLVANE_COMMAND, args, input);
  }
  // The standard output of a command that must succeed.
  std::string ok(const std::vector<std::string>& args, const std::string& input = "") {
    const Outcome outcome = tellvane(args, input);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return outcome.out;
  }
  std::string file(const std::string& name, const std::string& bytes) {
    const std::string path = files_.path() + "/" + name;
    tvtest::writeFile(path, bytes);
    return path;
  }
  std::string file(const std::string& name, const tvtest::Bytes& bytes) {
    return file(name, std::string(bytes.begin(), bytes.end()));
  }
  // The value after "thumbprint " in a command's output.
  static std::string thumbprintIn(const std::string& out) {
    const size_t at = out.find("thumbprint ");
    return at == std::string::npos ? "" : out.substr(at + 11, 40);
  }

  tvtest::TempPrefix prefix_;
  tvtest::ScopedEnv noPin_{"TELLVANE_PINENTRY", ""};
  tvtest::TempFolder files_;
};

TEST_F(Command, RefusesWrongUseWithOneLineAndStatus2) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "usage: tellvane"},
      {{"sing"}, "unknown command 'sing'"},
      {{"certs"}, "which command?"},
      {{"register", "--system"}, "unknown option --system"},
      {{"call"}, "missing argument"},
      {{"call", "--null", "x", "signString"}, "--null takes an argument's number"},
      {{"call", "--null", "3", "signString", "a"}, "--null 3 names no argument"},
      {{"digest"}, "no input given"},
      {{"verify", "--digest"}, "no value for --digest"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = tellvane(c.args);
    EXPECT_EQ(outcome.status, 2) << c.says;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
    if (!c.args.empty()) {
      EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
  }
  EXPECT_EQ(ok({"certs", "import", "--help"}).rfind("usage: tellvane certs import", 0), 0u);
}

TEST_F(Command, DigestsTextsAndFilesAlike) {
  const std::string text(100000, 'x');  // more than one block of the file reader
  const std::string digest = ok({"digest", "--text", text});
  EXPECT_EQ(base64Decode(digest.substr(0, digest.size() - 1)).size(), 32u);
  EXPECT_EQ(ok({"digest", "--file", file("big", text)}), digest);
  EXPECT_NE(ok({"digest", "--text", ""}), digest);
  EXPECT_EQ(tellvane({"digest", "--file", files_.path() + "/absent"}).err,
            "tellvane digest: cannot read " + files_.path() + "/absent\n");
}

TEST_F(Command, ImportsCertificatesWithAndWithoutKeys) {
  const tvtest::TestCertificate pair = tvtest::makeCertificate(), alone = tvtest::makeCertificate(),
                                bundled = tvtest::makeCertificate();
  const std::string pairThumb = tvtest::sha1Hex(pair.der), aloneThumb = tvtest::sha1Hex(alone.der);
  ok({"certs", "import", file("pair.cer", pair.der)});  // its key comes later
  ok({"certs", "import", file("pair.pem", tvtest::toPem(pair.der)), "--key", file("pair.key", pair.privateKeyPem)});
  ok({"certs", "import", file("alone.cer", alone.der)});

  const std::string p12 = file("bundle.p12", tvtest::toPkcs12(bundled, "секрет"));
  const Outcome wrong = tellvane({"certs", "import", p12, "--password", "guess"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err, "tellvane certs import: the password does not open the PKCS#12 file\n");
  EXPECT_EQ(thumbprintIn(ok({"certs", "import", p12, "--password", "секрет"})), tvtest::sha1Hex(bundled.der));
  EXPECT_EQ(tellvane({"certs", "import", file("junk", "not a certificate")}).status, 1);
  const Outcome otherKey =
      tellvane({"certs", "import", file("a.cer", alone.der), "--key", file("k", pair.privateKeyPem)});
  EXPECT_EQ(otherKey.err, "tellvane certs import: the key does not belong to the certificate\n");

  const std::string list = ok({"certs", "list"});
  EXPECT_NE(list.find(pairThumb + "\n  subject  CN=Test certificate\n"), std::string::npos) << list;
  EXPECT_NE(list.find("key      in container key-" + pairThumb.substr(0, 16)), std::string::npos) << list;
  EXPECT_NE(list.find(aloneThumb + "\n  subject  CN=Test certificate\n  valid    "), std::string::npos) << list;
  EXPECT_NE(list.find("key      none"), std::string::npos) << list;
  // The PKCS#12 password keeps protecting the key: it is the key's PIN now.
  EXPECT_NE(list.find("key      protected by a PIN"), std::string::npos) << list;
  // Imported with its key, a certificate names its container.
  const std::string link = tvtest::readFile(prefix_ / ("certstores/user/My/properties/" + pairThumb + ".key"));
  EXPECT_NE(link.find("\ncontainer key-" + pairThumb.substr(0, 16) + "\n"), std::string::npos) << link;
}

TEST_F(Command, RemovesCertificatesAndTheirKeys) {
  const std::string thumbprint = thumbprintIn(ok({"certs", "new", "--cn", "Уходящий"}));
  ASSERT_EQ(thumbprint.size(), 40u);
  const std::string container = prefix_ / ("keys/key-" + thumbprint.substr(0, 16));
  ASSERT_TRUE(std::filesystem::exists(container));
  const std::string link = prefix_ / ("certstores/user/My/properties/" + thumbprint + ".key");
  ASSERT_TRUE(std::filesystem::exists(link));  // a new certificate names its key
  ok({"certs", "remove", thumbprint, "--with-key"});
  EXPECT_FALSE(std::filesystem::exists(container));
  EXPECT_FALSE(std::filesystem::exists(link));
  EXPECT_EQ(ok({"certs", "list"}), "The personal store holds no certificate.\n");
  EXPECT_EQ(tellvane({"certs", "remove", thumbprint}).status, 1);  // nothing left to remove
}

#ifdef TELLVANE_COMPONENT
// The component registered for the machine of the test's prefix.
class Component : public Command {
 protected:
  void SetUp() override { ok({"register"}); }
};

TEST_F(Component, AnswersEveryMethodByNameUntilUnregistered) {
  const std::string thumbprint = thumbprintIn(ok({"certs", "new", "--cn", "Подписант"}));
  const std::string list = ok({"call", "getCertListAsJson", "--null", "1"});
  EXPECT_EQ(list.rfind("{\"success\":true,\"result\":[{", 0), 0u) << list;
  EXPECT_NE(list.find(thumbprint), std::string::npos);
  EXPECT_EQ(ok({"call", "showMessage", "Привет"}), "\n");
  // The README's C++ client reaches the same object the same way.
  const Outcome client = tvtest::runProgram(TELLVANE_SIGNCLIENT, {thumbprint, "Привет"});
  EXPECT_EQ(client.status, 0) << client.err;
  EXPECT_EQ(tellvane({"verify", "--text", "Привет", "-"}, client.out).status, 0) << client.out;
  const Outcome failed = tellvane({"call", "signHash", "AAAA", thumbprint, ""});
  EXPECT_EQ(failed.status, 1);  // an envelope whose "success" is false
  EXPECT_EQ(failed.out.rfind("{\"success\":false,", 0), 0u) << failed.out;
  EXPECT_NE(tellvane({"call", "sign"}).err.find("0x80020006 Unknown name."), std::string::npos);

  ok({"register", "--unregister"});
  const Outcome gone = tellvane({"call", "getCertListAsJson", ""});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.err.find("Invalid class string (tellvane register [--user] registers"), std::string::npos);
}

TEST_F(Component, RegistersForTheUserAlone) {
  ok({"register", "--unregister"});
  EXPECT_NE(ok({"register", "--user"}).find("DllInstall(TRUE, \"user\")"), std::string::npos);
  EXPECT_EQ(tvtest::readFile(prefix_ / "registry/machine.reg").find("Tellvane.Signer32"), std::string::npos);
  ok({"call", "getCertListAsJson", ""});
}

TEST_F(Component, VerifiesOnlyWhatWasSignedWholeAndUnaltered) {
  const std::string thumbprint = thumbprintIn(ok({"certs", "new", "--cn", "Иван Петров"}));
  const std::string envelope = ok({"call", "signString", "Договор №1", thumbprint, ""});
  const std::string digest = ok({"digest", "--text", "Договор №1"});
  const std::string signer = "valid: signed by CN=Иван Петров\nthumbprint " + thumbprint +
                             "\nthe certificate is self-issued and its own signature holds\n";
  EXPECT_EQ(ok({"verify", "--text", "Договор №1", envelope}), signer);
  EXPECT_EQ(ok({"verify", "--file", file("contract", "Договор №1"), "-"}, envelope), signer);
  const std::string tupleText = envelope.substr(26, envelope.size() - 26 - 3);
  EXPECT_EQ(ok({"verify", "--digest", digest.substr(0, digest.size() - 1), tupleText}), signer);

  const std::vector<BYTE> tuple = base64Decode(tupleText);
  auto changed = [&](std::vector<size_t> at) {
    std::vector<BYTE> bytes = tuple;
    for (size_t i : at) bytes[i] ^= 0x01;
    return base64Encode(bytes);
  };
  std::vector<BYTE> longer = tuple;
  longer.insert(longer.end(), {0xDE, 0xAD});
  const std::string text = "Иван Петров";
  const std::vector<BYTE> name(text.begin(), text.end());
  // The name is the certificate's issuer and subject: changing both keeps it self-issued.
  const auto issuer = std::search(tuple.begin(), tuple.end(), name.begin(), name.end());
  const auto subject = std::search(issuer + 1, tuple.end(), name.begin(), name.end());
  ASSERT_NE(subject, tuple.end());
  const std::vector<size_t> inNames{size_t(issuer - tuple.begin()) + 1, size_t(subject - tuple.begin()) + 1};
  struct Case {
    std::vector<std::string> args;
    const char* why;
  };
  const Case cases[] = {
      {{"--text", "Договор №1", changed({12 + 5})}, "the signature does not match the text"},
      {{"--digest", ok({"digest", "--text", "x"}).substr(0, 44), tupleText}, "the signature does not match the digest"},
      {{"--text", "Договор №1", changed(inNames)}, "was altered after it was signed"},
      {{"--text", "Договор №1", tupleText.substr(0, tupleText.size() - 8)}, "cannot be read"},
      {{"--text", "Договор №1", base64Encode(longer)}, "the sign tuple is followed by 2 more bytes"},
      {{"--text", "x", "{\"success\":false,\"result\":\"No thumbprint\"}"},
       "the envelope holds a failure: No thumbprint"},
      {{"--text", "x", "not*base64"}, "is not Base64"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"verify"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome outcome = tellvane(args);
    EXPECT_EQ(outcome.status, 1) << c.why;
    EXPECT_NE(outcome.err.find(c.why), std::string::npos) << outcome.err;
  }
}

#endif

// The manifest a browser reads is written whole or not at all: a write that
// fails (here, a folder where its temporary file goes) leaves none behind.
TEST_F(Command, BridgeInstallWritesTheHostManifestWholeOrNotAtAll) {
  tvtest::TempFolder home;
  tvtest::ScopedEnv homeVariable("HOME", home.path().c_str()), config("XDG_CONFIG_HOME", nullptr);
  const std::filesystem::path manifest = home.path() + "/.config/chromium/NativeMessagingHosts/tellvane.bridge.json";
  std::filesystem::create_directories(manifest.string() + ".new");
  const Outcome blocked = tellvane({"bridge", "install"});
  EXPECT_EQ(blocked.status, 1) << blocked.out;
  EXPECT_FALSE(std::filesystem::exists(manifest));
  ok({"bridge", "install"});
  EXPECT_TRUE(std::filesystem::is_regular_file(manifest));
}

}  // namespace
