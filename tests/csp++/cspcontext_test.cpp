// CspContext: acquisition, release, container listing and the PIN.
#include "csp++/cspcontext.h"

#include <winerror.h>

#include <gtest/gtest.h>

#include <memory>

#include "common/exceptions.h"
#include "csp++/cryptoutils.h"
#include "csp++/x509certificate.h"
#include "support/certfactory.h"
#include "support/debugcapture.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"
#include "support/thrown.h"

namespace {

const char* const kProvider = "Tellvane GOST R 34.10-2001 Provider";

using tvtest::thrownText;

class CspContextTest : public ::testing::Test {
 protected:
  tvtest::TempPrefix prefix;
  tvtest::ScopedPinentry noPinentry;
};

TEST_F(CspContextTest, RefusesEmptyArgumentsWithTheBareNumber87) {
  tvtest::DebugCapture trace;
  EXPECT_EQ(thrownText([] { CspContext context{Crypto::X509Certificate()}; }), "number 87");
  EXPECT_EQ(thrownText([] { CspContext context(std::string(), nullptr, 75, CRYPT_VERIFYCONTEXT); }), "number 87");
  CspContext context(kProvider, nullptr, 75, CRYPT_VERIFYCONTEXT);
  EXPECT_EQ(thrownText([&] { context.setPinCode(""); }), "number 87");
  for (const std::string& line : trace.lines()) EXPECT_NE(line, "CspContext::~CspContext");  // nothing released
}

TEST_F(CspContextTest, ReleasesItsHandleAndThenTracesItsEnd) {
  auto context = std::make_unique<CspContext>(kProvider, nullptr, 75, CRYPT_VERIFYCONTEXT);
  const HCRYPTPROV handle = context->handle();
  tvtest::DebugCapture trace;
  context.reset();
  EXPECT_EQ(trace.lines(), std::vector<std::string>{"CspContext::~CspContext"});
  EXPECT_FALSE(CryptReleaseContext(handle, 0));  // released already
  EXPECT_EQ(thrownText([] { CspContext missing(kProvider, "no-such-container", 75, 0); }), "Keyset does not exist\r\n");
}

TEST_F(CspContextTest, ListsContainersAndHandsThePinToTheProvider) {
  EXPECT_TRUE(CspContext(kProvider, nullptr, 75, CRYPT_VERIFYCONTEXT).getContainerList().empty());
  const tvtest::TestCertificate made = tvtest::makeCertificate();
  const std::string longName(255, 'n');
  tvtest::installKeyContainer(longName, made.privateKeyPem, made.publicKeyDer);
  tvtest::installKeyContainer("locked", tvtest::encryptPrivateKey(made.privateKeyPem, "4321"), made.publicKeyDer);
  EXPECT_EQ(CspContext(kProvider, nullptr, 75, CRYPT_VERIFYCONTEXT).getContainerList(),
            (std::vector<std::string>{"locked", longName}));

  CspContext context(kProvider, "locked", 75, 0);
  EXPECT_THROW(context.setPinCode("1111"), Crypto::Error);
  context.setPinCode("4321");
  CspHash hash(context.handle(), CALG_GR3411);
  hash.hashData(reinterpret_cast<const BYTE*>("abc"), 3);
  EXPECT_TRUE(tvtest::nettleVerifies(made.publicKeyDer, tvtest::gostDigest("abc"), hash.sign(AT_KEYEXCHANGE)));
}

}  // namespace
