#include "common/exceptions.h"

#include <gtest/gtest.h>

#include <locale>
#include <string>

namespace {

std::string composed(const std::string& file, int line, const std::string& text) {
  return "Exception has been thrown in file '" + file + "' at line " + std::to_string(line) + ". The text is: " + text;
}

TEST(OsError, TextIsTheSixPiecesInOrderAndNothingAfter) {
  Sys::OsError error("common/binaryreader.cpp", 22, "Broken stream");
  EXPECT_STREQ(error.what(),
               "Exception has been thrown in file 'common/binaryreader.cpp' at line 22. The text is: Broken stream");
  EXPECT_EQ(error.code(), 0u);
  EXPECT_STREQ(Sys::OsError("C:\\a\\\"b\".cpp", -1, "100% \"x\"\r\n").what(),
               composed("C:\\a\\\"b\".cpp", -1, "100% \"x\"\r\n").c_str());
}

TEST(OsError, CodeBasedTextsEndWithThePlatformMessageOrTheFallback) {
  const struct {
    DWORD code;
    const char* message;
  } cases[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {0x80090016, "Keyset does not exist\r\n"},
      {0x2000DEAD, "Unable to find a message text"},
  };
  for (const auto& c : cases) {
    Sys::OsError fromCode(c.code, "shared/clientcrypto.cpp", 7);
    EXPECT_EQ(fromCode.what(), composed("shared/clientcrypto.cpp", 7, c.message));
    EXPECT_EQ(fromCode.code(), c.code);
    SetLastError(c.code);
    Sys::OsError fromLastError("common/fileinputstream.cpp", 1234567);
    EXPECT_EQ(fromLastError.what(), composed("common/fileinputstream.cpp", 1234567, c.message));
    EXPECT_EQ(fromLastError.code(), c.code);
  }
}

// A host that sets a global locale with digit grouping must not change the
// line numbers a page sees.
TEST(OsError, LineNumberIsPlainDecimalWhateverTheGlobalLocale) {
  struct Grouping : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
  };
  std::locale previous = std::locale::global(std::locale(std::locale::classic(), new Grouping));
  Sys::OsError error("f.cpp", 1234567, "x");
  std::locale::global(previous);
  EXPECT_EQ(error.what(), composed("f.cpp", 1234567, "x"));
}

TEST(CryptoErrorAndAssertion, TextsAreTheMessageAlone) {
  EXPECT_STREQ(Crypto::Error(87).what(), "The parameter is incorrect.\r\n");
  EXPECT_EQ(Crypto::Error(0x2000DEAD).code(), 0x2000DEADu);
  Sys::AssertionFailed failed("X509Certificate::getNameOf returns zeros in string!", "csp++/x509certificate.cpp",
                              "Crypto::X509Certificate::getNameOf", 120);
  EXPECT_STREQ(failed.what(), "X509Certificate::getNameOf returns zeros in string!");
  EXPECT_EQ(failed.function() + "@" + failed.file() + ":" + std::to_string(failed.line()),
            "Crypto::X509Certificate::getNameOf@csp++/x509certificate.cpp:120");
}

// (checkWin32 and Crypto::check fail with the last error all through the
// other tests: a missing file, a missing key set.)
TEST(Checks, HandleAndCodeChecksPassQuietlyAndFailWithTheirCode) {
  SetLastError(5);
  EXPECT_NO_THROW(Sys::checkWin32Handle(nullptr, "f", 1));
  EXPECT_NO_THROW(Sys::checkWin32Handle(reinterpret_cast<HANDLE>(0xFFFFFFFFull), "f", 1));
  EXPECT_NO_THROW(Sys::checkWin32Code(0, "f", 1));
  SetLastError(0);
  for (const auto& fail : {+[] { Sys::checkWin32Code(5, "common/x.cpp", 10); },
                           +[] { SetLastError(5); Sys::checkWin32Handle(INVALID_HANDLE_VALUE, "common/x.cpp", 10); }}) {
    try {
      fail();
      ADD_FAILURE() << "nothing thrown";
    } catch (const Sys::OsError& error) {
      EXPECT_EQ(error.what(), composed("common/x.cpp", 10, "Access is denied.\r\n"));
      EXPECT_EQ(error.code(), 5u);
    }
  }
}

}  // namespace
