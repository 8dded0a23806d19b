// Crypto::CertificateStore: the user's personal store as the client
// operations read it, and the search by thumbprint.
#include "csp++/certificatestore.h"

#include "common/wide.h"
#include "support/certfactory.h"
#include "support/tempprefix.h"

#include <tvplatform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

using Crypto::CertificateStore;
using Crypto::X509Certificate;
using tvtest::Bytes;

class PersonalStore : public ::testing::Test {
 protected:
  // Installs a certificate as the next file of the store and returns its thumbprint.
  std::string install(const std::string& cn) {
    tvtest::CertificateOptions options;
    options.key = tvtest::KeyKind::EcdsaP256;
    options.subject = tvtest::commonName(cn);
    Bytes der = tvtest::makeCertificate(options).der;
    tvtest::installCertificate(prefix.path(), std::to_string(++files) + ".der", der);
    return tvtest::sha1Hex(der);
  }

  tvtest::TempPrefix prefix;
  LONG liveBefore = TvLiveCertificateContexts();
  int files = 0;
};

TEST_F(PersonalStore, FindsOnlyTheExactUpperCaseThumbprint) {
  install("first");
  std::string thumbprint = install("second");
  install("third");
  CertificateStore store(WSTR("My"), false, true);

  X509Certificate found = store.findByThumbprint(thumbprint);
  ASSERT_FALSE(found.isEmpty());
  EXPECT_EQ(thumbprint, found.thumbprint());

  std::string lower = thumbprint;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string& near : {lower, thumbprint + " ", thumbprint.substr(0, 39)})
    EXPECT_TRUE(store.findByThumbprint(near).isEmpty()) << "'" << near << "'";
}

TEST_F(PersonalStore, FailingFilterLeavesNoCertificateBehind) {
  install("one");
  install("two");
  install("three");
  {
    CertificateStore store(WSTR("My"), false, true);
    static int calls;
    calls = 0;
    auto failOnSecond = [](const X509Certificate&) -> bool {
      if (++calls == 2) throw std::runtime_error("filter failed");
      return true;
    };
    EXPECT_THROW(store.enumCertificates(failOnSecond), std::runtime_error);
  }
  EXPECT_EQ(liveBefore, TvLiveCertificateContexts());
}

}  // namespace
