// The sign tuple record: its layout, and what the reader refuses.
#include "csp++/signtuple.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/exceptions.h"
#include "common/memoryinputstream.h"
#include "common/memoryoutputstream.h"
#include "csp++/x509certificate.h"
#include "support/certfactory.h"
#include "support/thrown.h"

namespace {

using tvtest::Bytes;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes le32(size_t value) { return {Bytes::value_type(value), Bytes::value_type(value >> 8), Bytes::value_type(value >> 16), 0}; }

class SignTupleTest : public ::testing::Test {
 protected:
  Bytes record(const Bytes& signature) {
    Sys::MemoryOutputStream stream;
    Aux::save_sign_tuple_to_stream(stream, signature, certificate);
    return Bytes(stream.data(), stream.data() + stream.size());
  }
  const tvtest::TestCertificate made = tvtest::makeCertificate();
  const Crypto::X509Certificate certificate{made.der};
  const Bytes magic = {'S', 'I', 'G', 'N', 'D', 'A', 'T', 'A'};
};

TEST_F(SignTupleTest, WritesTheRecordAndReadsItBackLeavingWhatFollows) {
  const Bytes signature(64, 0xA5);
  EXPECT_EQ(record(signature), concat({magic, le32(64), signature, le32(made.der.size()), made.der}));
  for (const Bytes& written : {signature, Bytes(128, 0x3C)}) {  // 128: a 512-bit key's
    Sys::MemoryInputStream stream(concat({record(written), Bytes{'n', 'e', 'x', 't'}}));
    Bytes read = {1, 2, 3};
    Crypto::X509Certificate readCertificate;
    Aux::load_sign_tuple_from_stream(stream, read, readCertificate);
    EXPECT_EQ(read, written);
    EXPECT_EQ(readCertificate.thumbprint(), tvtest::sha1Hex(made.der));
    EXPECT_EQ(stream.position(), 16 + written.size() + made.der.size());
  }
  Sys::MemoryOutputStream stream;
  EXPECT_THROW(Aux::save_sign_tuple_to_stream(stream, Bytes(), certificate), std::invalid_argument);
  EXPECT_EQ(stream.size(), 0u);
}

TEST_F(SignTupleTest, ReaderRefusesMalformedRecords) {
  const Bytes signature(64, 0x5A);
  const Bytes good = record(signature);
  const struct {
    const char* what;
    Bytes bytes;
    std::string text;
  } cases[] = {
      {"swapped magic", concat({Bytes(magic.begin() + 4, magic.end()), Bytes(magic.begin(), magic.begin() + 4),
                                Bytes(good.begin() + 8, good.end())}),
       "Invalid stream prefix"},
      {"signature of 129 bytes", record(Bytes(129, 1)), "Illegal length of signature field"},
      {"cut inside the signature", Bytes(good.begin(), good.begin() + 40), "Broken stream (1)"},
      {"cut inside the certificate length", Bytes(good.begin(), good.begin() + 78), "Broken stream (2)"},
      {"cut inside the certificate", Bytes(good.begin(), good.end() - 10), "Broken stream (2)"},
      {"certificate length 0", concat({magic, le32(64), signature, le32(0)}), "Zero certificate length"},
      // Nothing the size of a forged length is set aside for a stream that cannot hold it.
      {"forged certificate length", concat({magic, le32(64), signature, {0xF0, 0xFF, 0xFF, 0xFF, 0x30, 0x82}}),
       "Broken stream (2)"},
      {"shorter than the magic", Bytes(magic.begin(), magic.begin() + 5),
       "Exception has been thrown in file 'common/binaryreader.cpp' at line #. The text is: Broken stream"},
  };
  for (const auto& c : cases) {
    Sys::MemoryInputStream stream(c.bytes);
    Bytes read;
    Crypto::X509Certificate readCertificate;
    const auto load = [&] { Aux::load_sign_tuple_from_stream(stream, read, readCertificate); };
    EXPECT_EQ(tvtest::lineless(tvtest::thrownText(load)), c.text) << c.what;
  }
  Sys::MemoryInputStream notACertificate(concat({magic, le32(64), signature, le32(3), Bytes{1, 2, 3}}));
  Bytes read;
  Crypto::X509Certificate readCertificate;
  EXPECT_THROW(Aux::load_sign_tuple_from_stream(notACertificate, read, readCertificate), Crypto::Error);
}

}  // namespace
