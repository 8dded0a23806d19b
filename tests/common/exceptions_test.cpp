#include "common/exceptions.h"

#include <gtest/gtest.h>

#include <locale>
#include <string>

namespace {

const char kPrefix[] = "Exception has been thrown in file '";

std::string composed(const std::string& file, int line, const std::string& text) {
  return kPrefix + file + "' at line " + std::to_string(line) + ". The text is: " + text;
}

TEST(OsError, TextIsTheSixPiecesInOrderAndNothingAfter) {
  Sys::OsError error("common/binaryreader.cpp", 22, "Broken stream");
  EXPECT_STREQ(error.what(),
               "Exception has been thrown in file 'common/binaryreader.cpp' at line 22. The text is: Broken stream");
  EXPECT_EQ(error.code(), 0u);
}

TEST(OsError, CodeBasedTextEndsWithThePlatformMessageAndItsLineBreak) {
  struct Case {
    DWORD code;
    const char* message;
  } cases[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {0x80090016, "Keyset does not exist\r\n"},
      // No message for the code: the fixed fallback, the code kept.
      {0x2000DEAD, "Unable to find a message text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Sys::OsError fromCode(c.code, "shared/clientcrypto.cpp", 7);
    EXPECT_EQ(fromCode.what(), composed("shared/clientcrypto.cpp", 7, c.message));
    EXPECT_EQ(fromCode.code(), c.code);

    SetLastError(c.code);
    Sys::OsError fromLastError("common/fileinputstream.cpp", 1234567);
    EXPECT_EQ(fromLastError.what(), composed("common/fileinputstream.cpp", 1234567, c.message));
    EXPECT_EQ(fromLastError.code(), c.code);
  }
}

TEST(OsError, TextKeepsQuotesBackslashesAndInsertMarkersAsGiven) {
  Sys::OsError error("C:\\src\\shared\\client\"crypto\".cpp", -1, "100% \"odd\"\r\n");
  EXPECT_EQ(error.what(), composed("C:\\src\\shared\\client\"crypto\".cpp", -1, "100% \"odd\"\r\n"));
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

TEST(OsError, CopiesCarryTheWholeText) {
  Sys::OsError original(5, "a.cpp", 3);
  Sys::OsError copy = original;
  EXPECT_STREQ(copy.what(), original.what());
  EXPECT_EQ(copy.code(), 5u);
  try {
    throw original;
  } catch (const std::exception& caught) {
    EXPECT_STREQ(caught.what(), original.what());
  }
}

TEST(CryptoError, TextIsTheEnglishPlatformMessageAlone) {
  EXPECT_STREQ(Crypto::Error(87).what(), "The parameter is incorrect.\r\n");
  EXPECT_EQ(Crypto::Error(87).code(), 87u);
  EXPECT_STREQ(Crypto::Error(0x80092004).what(), "Cannot find object or property.\r\n");
  EXPECT_STREQ(Crypto::Error(0x2000DEAD).what(), "Unable to find a message text");
  EXPECT_EQ(Crypto::Error(0x2000DEAD).code(), 0x2000DEADu);

  SetLastError(0x8009000D);
  Crypto::Error fromLastError;
  EXPECT_EQ(fromLastError.code(), 0x8009000Du);
  EXPECT_STREQ(fromLastError.what(), "Key does not exist.\r\n");
}

TEST(AssertionFailed, TextIsTheMessageAloneAndThePositionIsKeptApart) {
  Sys::AssertionFailed error("X509Certificate::getNameOf returns zeros in string!", "csp++/x509certificate.cpp",
                             "Crypto::X509Certificate::getNameOf", 120);
  EXPECT_STREQ(error.what(), "X509Certificate::getNameOf returns zeros in string!");
  EXPECT_EQ(error.file(), "csp++/x509certificate.cpp");
  EXPECT_EQ(error.function(), "Crypto::X509Certificate::getNameOf");
  EXPECT_EQ(error.line(), 120);
}

TEST(Checks, PassingValuesDoNothing) {
  SetLastError(5);
  EXPECT_NO_THROW(Sys::checkWin32(1, "f", 1));
  EXPECT_NO_THROW(Sys::checkWin32(0xFFFFFFFF, "f", 1));
  EXPECT_NO_THROW(Sys::checkWin32Handle(nullptr, "f", 1));
  EXPECT_NO_THROW(Sys::checkWin32Handle(reinterpret_cast<HANDLE>(0xFFFFFFFFull), "f", 1));
  EXPECT_NO_THROW(Sys::checkWin32Code(0, "f", 1));
  EXPECT_NO_THROW(Crypto::check(1));
}

TEST(Checks, FailingValuesThrowWithTheLastErrorOrTheGivenCode) {
  SetLastError(2);
  try {
    Sys::checkWin32(0, "common/x.cpp", 10);
    FAIL() << "no throw";
  } catch (const Sys::OsError& error) {
    EXPECT_EQ(error.code(), 2u);
    EXPECT_EQ(error.what(), composed("common/x.cpp", 10, "The system cannot find the file specified.\r\n"));
  }

  SetLastError(5);
  try {
    Sys::checkWin32Handle(INVALID_HANDLE_VALUE, "common/y.cpp", 11);
    FAIL() << "no throw";
  } catch (const Sys::OsError& error) {
    EXPECT_EQ(error.what(), composed("common/y.cpp", 11, "Access is denied.\r\n"));
  }

  SetLastError(0);
  try {
    Sys::checkWin32Code(32, "common/z.cpp", 12);
    FAIL() << "no throw";
  } catch (const Sys::OsError& error) {
    EXPECT_EQ(error.code(), 32u);
  }

  SetLastError(0x80090016);
  try {
    Crypto::check(0);
    FAIL() << "no throw";
  } catch (const Crypto::Error& error) {
    EXPECT_STREQ(error.what(), "Keyset does not exist\r\n");
  }
}

}  // namespace
