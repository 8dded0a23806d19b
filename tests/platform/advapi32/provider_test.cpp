// The GOST provider of the stand-in: key containers, the keys it refuses and
// the PIN rules. (Its signatures are checked by a second implementation in
// the signing tests.)
#include <wincrypt.h>
#include <windows.h>
#include <winerror.h>
#include <tvplatform.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "support/certfactory.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"

namespace {

using tvtest::Bytes;
using tvtest::KeyKind;

tvtest::TestCertificate makeKey(KeyKind kind = KeyKind::Gost2001ParamSetA) {
  tvtest::CertificateOptions options;
  options.key = kind;
  return tvtest::makeCertificate(options);
}

DWORD failure(BOOL result) { return result ? 0 : GetLastError(); }

// Signs the hash of text; the error of the signing call goes to *error.
Bytes sign(HCRYPTPROV provider, const std::string& text, DWORD* error) {
  HCRYPTHASH hash = 0;
  EXPECT_TRUE(CryptCreateHash(provider, CALG_GR3411, 0, 0, &hash));
  EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()), 0));
  Bytes signature(64);
  DWORD size = 64;
  *error = failure(CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size));
  CryptDestroyHash(hash);
  return signature;
}

class ProviderTest : public ::testing::Test {
 protected:
  tvtest::TempPrefix prefix;
  tvtest::ScopedPinentry noPinentry;
};

TEST_F(ProviderTest, KeepsContainersPrivateAndListsThemWithTheSizeProtocol) {
  const tvtest::TestCertificate key = makeKey();
  const mode_t oldMask = umask(0);
  for (const char* name : {"beta", "alpha"}) tvtest::installKeyContainer(name, key.privateKeyPem, key.publicKeyDer);
  umask(oldMask);
  for (const char* path : {"keys/alpha", "keys/alpha/private.pem", "keys/alpha/public.der"}) {
    struct stat info;
    ASSERT_EQ(stat((prefix / path).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u) << path;
  }
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT));
  char name[16];
  DWORD size = 3;  // too small: the size is reported and the position kept
  EXPECT_EQ(failure(CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_FIRST)),
            (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  // The two-call protocol with CRYPT_NEXT: asking the size does not move on.
  size = sizeof name;
  ASSERT_TRUE(CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_FIRST));
  ASSERT_TRUE(CryptGetProvParam(provider, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_NEXT));
  EXPECT_EQ(size, 5u);
  ASSERT_TRUE(CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_NEXT));
  EXPECT_STREQ(name, "beta");
  size = sizeof name;
  EXPECT_EQ(failure(CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_NEXT)),
            (DWORD)ERROR_NO_MORE_ITEMS);
  CryptReleaseContext(provider, 0);
}

TEST_F(ProviderTest, RefusesContextsItCannotGive) {
  const tvtest::TestCertificate gost = makeKey();
  const tvtest::TestCertificate rsa = makeKey(KeyKind::Rsa2048);
  tvtest::installKeyContainer("good", gost.privateKeyPem, gost.publicKeyDer);
  tvtest::installKeyContainer("open", gost.privateKeyPem, gost.publicKeyDer);
  chmod((prefix / "keys/open/private.pem").c_str(), 0640);
  tvtest::installKeyContainer("rsa", rsa.privateKeyPem, rsa.publicKeyDer);
  tvtest::installKeyContainer("mismatched", gost.privateKeyPem, makeKey().publicKeyDer);
  tvtest::installKeyContainer("fifo", gost.privateKeyPem, gost.publicKeyDer);
  unlink((prefix / "keys/fifo/private.pem").c_str());
  mkfifo((prefix / "keys/fifo/private.pem").c_str(), 0600);  // read, it would block for ever
  // 1.2.643.2.2.35.9: a parameter set nobody published.
  tvtest::installKeyContainer("set35.9", tvtest::privateKeyWithParamSet35(gost.privateKeyPem, 9), gost.publicKeyDer);
  const struct {
    const char* container;
    DWORD type, flags, error;
  } cases[] = {
      {"nothing", 75, 0, (DWORD)NTE_BAD_KEYSET},        {nullptr, 75, 0, (DWORD)NTE_BAD_KEYSET},
      {"../good", 75, 0, (DWORD)NTE_BAD_KEYSET},        {"good", 1, 0, (DWORD)NTE_PROV_TYPE_NOT_DEF},
      {"good", 75, CRYPT_VERIFYCONTEXT, (DWORD)NTE_BAD_FLAGS},
      {"open", 75, 0, (DWORD)NTE_PERM},                 {"rsa", 75, 0, (DWORD)NTE_BAD_ALGID},
      {"set35.9", 75, 0, (DWORD)NTE_BAD_ALGID},         {"good", 80, 0, (DWORD)NTE_BAD_ALGID},
      {"mismatched", 75, 0, (DWORD)NTE_KEYSET_ENTRY_BAD}, {"fifo", 75, 0, (DWORD)NTE_BAD_KEYSET},
  };
  for (const auto& c : cases) {
    HCRYPTPROV provider = 0;
    EXPECT_EQ(failure(CryptAcquireContextA(&provider, c.container, nullptr, c.type, c.flags)), c.error)
        << (c.container ? c.container : "(null)");
  }
  HCRYPTPROV provider = 0;
  EXPECT_EQ(failure(CryptAcquireContextA(&provider, "good", "Another Provider", 75, 0)), (DWORD)NTE_KEYSET_NOT_DEF);
}

TEST_F(ProviderTest, OpensEncryptedKeysWithTheHandedPinOrOneAskedOfTheUser) {
  const tvtest::TestCertificate key = makeKey();
  tvtest::installKeyContainer("locked", tvtest::encryptPrivateKey(key.privateKeyPem, "12%4"), key.publicKeyDer);
  const struct {
    const char* what;
    const char* handedPin;  // through PP_KEYEXCHANGE_PIN, or null
    const char* answer;     // the pinentry's answer to GETPIN; null: nobody to ask; "": a missing program
    DWORD flags, error;     // error 0: signed
    bool staysAfterBye = false;
  } cases[] = {
      {"PIN handed", "12%4", nullptr, 0, 0},
      {"PIN entered, percent-escaped", nullptr, "D 12%254", 0, 0},
      {"user cancelled", nullptr, "ERR 83886179 Operation cancelled", 0, (DWORD)SCARD_W_CANCELLED_BY_USER},
      {"empty PIN entered", nullptr, "D ", 0, (DWORD)SCARD_W_CANCELLED_BY_USER},
      {"wrong PIN entered", nullptr, "D 9999", 0, (DWORD)SCARD_W_WRONG_CHV},
      {"pinentry program missing", nullptr, "", 0, (DWORD)SCARD_W_CANCELLED_BY_USER},
      {"nobody to ask", nullptr, nullptr, 0, (DWORD)SCARD_W_CANCELLED_BY_USER},
      {"pinentry stays after BYE", nullptr, "D 12%254", 0, 0, true},
      {"silent context", nullptr, "D 12%254", CRYPT_SILENT, (DWORD)SCARD_W_CANCELLED_BY_USER},
  };
  for (const auto& c : cases) {
    tvtest::ScopedPinentry pinentry(c.answer == nullptr ? ""
                                    : *c.answer == 0    ? prefix / "missing"
                                                        : tvtest::writePinentryScript(prefix.path(), c.answer, c.staysAfterBye));
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextA(&provider, "locked", nullptr, 75, c.flags)) << c.what;
    if (c.handedPin != nullptr) {
      EXPECT_EQ(failure(CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>("0000"), 0)),
                (DWORD)SCARD_W_WRONG_CHV);
      EXPECT_TRUE(CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>(c.handedPin), 0));
    }
    DWORD error = 0;
    const Bytes signature = sign(provider, "abc", &error);
    EXPECT_EQ(error, c.error) << c.what;
    if (c.error == 0) {
      EXPECT_TRUE(tvtest::nettleVerifies(key.publicKeyDer, tvtest::gostDigest("abc"), signature));
    }
    CryptReleaseContext(provider, 0);
  }
}

}  // namespace
