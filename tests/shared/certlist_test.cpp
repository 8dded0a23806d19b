// ClientCrypto::getCertListAsJson as a page calls it: the envelope and the
// result code, over a personal store made for each test.
#include "shared/clientcrypto.h"

#include "csp++/x509certificate.h"

#include "support/certfactory.h"
#include "support/comtest.h"
#include "support/json.h"
#include "support/tempprefix.h"
#include "support/threadlocale.h"

#include <tvplatform.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using Crypto::X509Certificate;
using comtest::Bstr;
using tvtest::Bytes;

struct Listed {
  HRESULT status;
  tvtest::Envelope envelope;
};

class CertificateList : public ::testing::Test {
 protected:
  Bytes install(const tvtest::CertificateOptions& options) {
    Bytes der = tvtest::makeCertificate(options).der;
    tvtest::installCertificate(prefix.path(), std::to_string(++files) + ".der", der);
    return der;
  }
  Bytes install(const std::string& cn) {
    tvtest::CertificateOptions options;
    options.key = tvtest::KeyKind::EcdsaP256;
    options.subject = tvtest::commonName(cn);
    return install(options);
  }

  Listed list(BSTR pin = nullptr) {
    BSTR result = nullptr;
    HRESULT status = ClientCrypto().getCertListAsJson(pin, &result);
    EXPECT_NE(nullptr, result);
    Listed listed{status, tvtest::parseEnvelope(result)};
    SysFreeString(result);
    return listed;
  }

  tvtest::TempPrefix prefix;
  int files = 0;
};

// S_FALSE for an empty store; objects in store order, each the certificate's
// own (its members are tested with it), joined by single commas; the PIN
// changes nothing, and no certificate context is left behind.
TEST_F(CertificateList, ListsEveryCertificateInStoreOrder) {
  for (int count : {0, 1, 3}) {
    tvtest::TempPrefix fresh;
    std::vector<Bytes> installed;
    for (int i = 0; i < count; ++i) {
      tvtest::CertificateOptions options;
      options.key = i == 0 ? tvtest::KeyKind::Gost2001ParamSetA : tvtest::KeyKind::EcdsaP256;
      options.subject = tvtest::commonName("Holder " + std::to_string(count - i));  // against the file order
      installed.push_back(tvtest::makeCertificate(options).der);
      tvtest::installCertificate(fresh.path(), std::to_string(i) + ".der", installed.back());
    }
    const LONG before = TvLiveCertificateContexts();
    Listed listed = list();
    EXPECT_EQ(before, TvLiveCertificateContexts());
    EXPECT_EQ(count == 0 ? S_FALSE : S_OK, listed.status);
    std::string expected;
    for (const Bytes& der : installed) expected += (expected.empty() ? "" : ",") + X509Certificate(der).toJson();
    EXPECT_EQ("{\"success\":true,\"result\":[" + expected + "]}", listed.envelope.text);
    Bstr pin(u"1234");
    EXPECT_EQ(listed.envelope.text, list(pin.get()).envelope.text);
  }
}

// An expired certificate is listed and an unreadable file skipped. Names read
// the same under a UTF-8 and a CP1251 locale; names with control characters
// still make valid JSON (parseEnvelope fails the test otherwise), and a zero
// inside a value hides nothing after it: the page sees it escaped.
TEST_F(CertificateList, ListsExpiredCertificatesAndAnyNameSkippingUnreadableFiles) {
  tvtest::CertificateOptions expired;
  expired.key = tvtest::KeyKind::Gost2001ParamSetXchA;
  expired.subject = tvtest::Name{{tvtest::textAttribute("2.5.4.6", "RU"), tvtest::textAttribute("2.5.4.3", "Иванов Иван")}, {}};
  expired.issuer = tvtest::commonName("УЦ \"Тест\"");
  expired.notBefore = tvtest::utc(1998, 1, 1);
  expired.notAfter = tvtest::utc(1999, 1, 1);
  install(expired);
  tvtest::installCertificate(prefix.path(), "2-corrupt.der", Bytes{0x30, 0x82, 0x01});
  install("line\nfeed");
  install("tab\tand \"quote\" and back\\slash");
  const std::string zero("Trusted Bank\0, O=Evil Corp", 26);
  install(zero);
  for (const char* locale : {"ru_RU.UTF-8", "ru_RU.CP1251"}) {
    if (!tvtest::ThreadLocale::available(locale)) GTEST_SKIP() << "no locale " << locale;
    tvtest::ThreadLocale scope(locale);
    const tvtest::Envelope listed = list().envelope;
    ASSERT_EQ(4u, listed.result.size()) << locale;
    EXPECT_EQ("1999-01-01 00:00:00.000", listed.result[0]["NotAfter"]);
    EXPECT_EQ("C=RU, CN=Иванов Иван", listed.result[0]["DistinguishedName"]) << locale;
    EXPECT_EQ("CN=\"УЦ \"\"Тест\"\"\"", listed.result[0]["IssuerDistinguishedName"]) << locale;
    EXPECT_EQ("CN=\"line\nfeed\"", listed.result[1]["DistinguishedName"]);
    EXPECT_EQ("CN=\"tab\tand \"\"quote\"\" and back\\slash\"", listed.result[2]["DistinguishedName"]);
    EXPECT_EQ("CN=\"" + zero + "\"", listed.result[3]["DistinguishedName"]);
    EXPECT_NE(std::string::npos, listed.text.find("Trusted Bank\\u0000, O=Evil Corp"));
  }
}

// A certificate whose subject has 2,000 RDNs (31 KB) once took minutes.
TEST_F(CertificateList, CertificateWithThousandsOfRdnsIsListedAtOnce) {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::EcdsaP256;
  options.subject = tvtest::manyRdns(2000);
  install(options);
  const auto start = std::chrono::steady_clock::now();
  Listed listed = list();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_EQ(1u, listed.envelope.result.size());
  const std::string name = listed.envelope.result[0]["DistinguishedName"];
  EXPECT_EQ(0u, name.rfind("CN=0, CN=1, "));
  EXPECT_EQ(name.size() - 7, name.rfind("CN=1999"));
}

}  // namespace
