// FormatMessageA over the system message table: Windows' English texts with
// their "\r\n", the allocated and the caller's-buffer forms, and the
// failures a caller tells apart by the last error.
#include <windows.h>

#include "kernel32/messagetable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace {

const DWORD kSystemFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;

// The message as an allocating caller sees it.
std::string allocatedMessage(DWORD code, DWORD language) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(kSystemFlags, nullptr, code, language, reinterpret_cast<LPSTR>(&buffer), 0,
                                      nullptr);
  if (length == 0) return "<failed with " + std::to_string(GetLastError()) + ">";
  std::string text(buffer);
  EXPECT_EQ(length, text.size());
  EXPECT_EQ(LocalFree(buffer), nullptr);
  return text;
}

struct KnownText {
  DWORD code;
  const char* text;
};

// Windows' own texts, one of each kind: Win32 codes, provider and ASN.1
// codes (some without a full stop), a Win32 code as an HRESULT, COM codes.
const KnownText kWindowsTexts[] = {
    {2u, "The system cannot find the file specified."},
    {1113u, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {0x80090016u, "Keyset does not exist"},
    {0x80093100u, "ASN1 Certificate encode/decode error code base. The ASN1 error values are offset by CRYPT_E_ASN1_ERROR."},
    {0x80004002u, "No such interface supported"},
};

TEST(FormatMessage, GivesWindowsEnglishTextWithLineEndInEveryDefaultLanguage) {
  for (const DWORD language : {0x0000u, 0x0400u, 0x0409u}) {
    for (const KnownText& known : kWindowsTexts) {
      EXPECT_EQ(allocatedMessage(known.code, language), std::string(known.text) + "\r\n")
          << std::hex << "code 0x" << known.code << " language 0x" << language;
    }
  }
}

TEST(FormatMessage, CallersBufferTakesTextAndTerminatorWhenTheyFit) {
  // Inserts stay as they are.
  const std::string text =
      "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n";
  std::string buffer(text.size() + 1, 'x');
  ASSERT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_MR_MID_NOT_FOUND,
                           0x0409, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr),
            text.size());
  EXPECT_EQ(buffer, text + '\0');
}

TEST(FormatMessage, RefusalsCarryWindowsCodesAndLeaveNoBuffer) {
  const DWORD allocate = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER;
  const struct {
    const char* name;
    DWORD flags;
    DWORD code;
    DWORD language;
    DWORD size;
    DWORD error;
  } cases[] = {
      {"unknown code", kSystemFlags, 0x12345678, 0x0400, 0, ERROR_MR_MID_NOT_FOUND},
      {"unknown HRESULT", kSystemFlags, 0x8009FFFF, 0, 0, ERROR_MR_MID_NOT_FOUND},
      {"Russian", kSystemFlags, ERROR_FILE_NOT_FOUND, 0x0419, 0, ERROR_RESOURCE_LANG_NOT_FOUND},
      {"allocation over 64K", kSystemFlags, ERROR_FILE_NOT_FOUND, 0, 0xFFFFFFFF, ERROR_INVALID_PARAMETER},
      {"inserts without arguments", allocate, ERROR_MR_MID_NOT_FOUND, 0, 0, ERROR_INVALID_PARAMETER},
      {"buffer one short", FORMAT_MESSAGE_FROM_SYSTEM, ERROR_ACCESS_DENIED, 0, 19, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const auto& c : cases) {
    char buffer[64];
    char* allocated = buffer;  // must come back null
    const LPSTR target = (c.flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) ? reinterpret_cast<LPSTR>(&allocated) : buffer;
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(c.flags, nullptr, c.code, c.language, target, c.size, nullptr), 0u) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
    if (c.flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
      EXPECT_EQ(allocated, nullptr) << c.name;
    }
  }
}

TEST(MessageTable, IsSortedWithoutDuplicatesSoLookupFindsEveryEntry) {
  for (size_t i = 1; i < tv::kMessageTableSize; ++i)
    EXPECT_LT(tv::kMessageTable[i - 1].code, tv::kMessageTable[i].code) << "entry " << i;
  for (size_t i = 0; i < tv::kMessageTableSize; ++i) {
    EXPECT_EQ(tv::findMessage(tv::kMessageTable[i].code), tv::kMessageTable[i].text);
    const std::string text = tv::kMessageTable[i].text;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  }
}

#ifdef TELLVANE_SOURCE_DIR
// Every error code that winerror.h declares can be set by some part of the
// stand-in, so each must have a text; a missing one would surface as
// "Unable to find a message text" in a page's error envelope.
TEST(MessageTable, HasTextForEveryErrorCodeOfWinerror) {
  std::ifstream header(std::string(TELLVANE_SOURCE_DIR) + "/platform/include/winerror.h");
  ASSERT_TRUE(header.good());
  const std::regex definition(R"(^#define\s+(\w+)\s+(?:_HRESULT_TYPEDEF_\()?(0x[0-9A-Fa-f]+|\d+)L?\)?\s*$)");
  const std::set<std::string> notErrors = {"ERROR_SUCCESS", "NO_ERROR", "S_OK", "S_FALSE", "SEVERITY_SUCCESS",
                                           "SEVERITY_ERROR", "FACILITY_WIN32"};
  int checked = 0;
  for (std::string line; std::getline(header, line);) {
    std::smatch match;
    if (!std::regex_match(line, match, definition) || notErrors.count(match[1])) continue;
    const DWORD code = static_cast<DWORD>(std::stoul(match[2], nullptr, 0));
    EXPECT_NE(tv::findMessage(code), nullptr) << match[1] << " has no text";
    ++checked;
  }
  EXPECT_GT(checked, 100);
}
#endif

}  // namespace
