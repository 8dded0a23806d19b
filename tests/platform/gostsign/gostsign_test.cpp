// GOST signatures by libgcrypt on every published parameter set, checked by
// OpenSSL's GOST engine: its keys are read, our signatures verify there, and
// its public keys are the ones we derive.
#include "gostsign/gostsign.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/gostsigning.h"
#include "support/opensslgost.h"

namespace {

using tv::gost::Bytes;
using tv::gost::KeyAlgorithm;
using tv::gost::PrivateKey;
using tv::gost::PublicKey;

const char* hashOf(const std::string& algorithm) {
  return algorithm == "gost2001" ? "md_gost94" : algorithm == "gost2012_256" ? "md_gost12_256" : "md_gost12_512";
}

class GostSign : public ::testing::TestWithParam<tvtest::EngineParameterSet> {};

TEST_P(GostSign, ReadsTheEnginesKeysAndSignsWhatItVerifies) {
  const tvtest::EngineParameterSet& set = GetParam();
  const tvtest::EngineKey engine = tvtest::engineKey(set);
  const PrivateKey key = PrivateKey::fromPkcs8(tvtest::pemKeyDer(engine.privatePem));
  EXPECT_STREQ(key.parameterSet().oid, set.oid);
  const PublicKey published = PublicKey::fromSpki(engine.publicDer);
  EXPECT_EQ(key.publicKey().point(), published.point());
  EXPECT_EQ(PublicKey::fromCertificate(engine.certificateDer).point(), published.point());
  EXPECT_TRUE(published.signedCertificate(engine.certificateDer));
  Bytes renamed = engine.certificateDer;
  const std::string cn = "Engine test";
  *std::search(renamed.begin(), renamed.end(), cn.begin(), cn.end()) = 'e';
  EXPECT_FALSE(published.signedCertificate(renamed));

  const Bytes digest = tvtest::engineDigest(hashOf(set.algorithm), Bytes{'s', 'i', 'g', 'n', ' ', 'm', 'e'});
  const Bytes provider = [&] {
    const Bytes rfc = key.sign(digest);
    return Bytes(rfc.rbegin(), rfc.rend());
  }();
  EXPECT_EQ(provider.size(), 2 * digest.size());
  EXPECT_TRUE(tvtest::engineVerifies(engine.publicDer, digest, provider));
  Bytes changed = digest;
  changed[0] ^= 1;
  EXPECT_FALSE(tvtest::engineVerifies(engine.publicDer, changed, provider));

  // Our own verification agrees.
  const Bytes rfc(provider.rbegin(), provider.rend());
  EXPECT_TRUE(published.verify(digest, rfc));
  EXPECT_FALSE(published.verify(changed, rfc));
  EXPECT_FALSE(published.verify(digest, Bytes(rfc.begin(), rfc.end() - 1)));

  // A fresh key of the set: its key info is one the engine reads, and its
  // PKCS#8 form reads back.
  const PrivateKey fresh = PrivateKey::generate(key.parameterSet());
  const Bytes freshSignature = fresh.sign(digest);
  EXPECT_TRUE(tvtest::engineVerifies(fresh.publicKey().toSpki(),
                                     digest, Bytes(freshSignature.rbegin(), freshSignature.rend())));
  EXPECT_FALSE(published.verify(digest, freshSignature));
  EXPECT_EQ(PrivateKey::fromPkcs8(fresh.toPkcs8()).scalar(), fresh.scalar());
}

INSTANTIATE_TEST_SUITE_P(EveryParameterSet, GostSign, ::testing::ValuesIn(tvtest::engineParameterSets()),
                         [](const auto& info) { return tvtest::engineSetName(info.param); });

TEST(GostSignKeys, RefusesWhatIsNoGostKeyOfAKnownSet) {
  const tvtest::EngineKey engine = tvtest::engineKey(tvtest::engineParameterSets()[0]);
  Bytes unknownSet = engine.publicDer;
  const Bytes oid = {0x2a, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};  // 1.2.643.2.2.35.1
  auto at = std::search(unknownSet.begin(), unknownSet.end(), oid.begin(), oid.end());
  ASSERT_NE(at, unknownSet.end());
  at[6] = 0x09;
  const struct {
    const char* what;
    Bytes der;
  } cases[] = {
      {"nothing", {}},
      {"cut short", Bytes(engine.publicDer.begin(), engine.publicDer.end() - 1)},
      {"length beyond the end", {0x30, 0x84, 0x7f, 0xff, 0xff, 0xff}},
      {"unknown parameter set", unknownSet},
  };
  for (const auto& c : cases) EXPECT_THROW(PublicKey::fromSpki(c.der), tv::gost::Error) << c.what;
  EXPECT_THROW(PrivateKey::fromPkcs8(Bytes(12, 0x30)), tv::gost::Error);
  EXPECT_THROW(PrivateKey(tv::gost::parameterSets()[9], Bytes(32, 1)), tv::gost::Error);  // a 512-bit set
}

}  // namespace
