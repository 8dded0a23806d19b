// MultiByteToWideChar / WideCharToMultiByte with Windows' results: UTF-8 with
// U+FFFD for what cannot be converted, the thread's ANSI code page following
// the thread's locale, the size protocol and the argument checks.
#include <tvplatform.h>
#include <windows.h>

#include "support/threadlocale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>

namespace {

using tvtest::ThreadLocale;

// Converts a counted text with the two-call protocol; fails the test when
// either call fails.
std::string narrow(UINT codePage, const std::u16string& wide, DWORD flags = 0) {
  const int size = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                       nullptr, nullptr);
  EXPECT_GT(size, 0) << "last error " << GetLastError();
  // Room to spare, so that a byte written past the converted count shows.
  const std::string guard(16, '\x5A');
  std::string bytes(static_cast<size_t>(size), '\0');
  bytes += guard;
  EXPECT_EQ(WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                                static_cast<int>(bytes.size()), nullptr, nullptr),
            size);
  EXPECT_EQ(bytes.substr(static_cast<size_t>(size)), guard) << "written past the converted count";
  bytes.resize(static_cast<size_t>(size));
  return bytes;
}

std::u16string widen(UINT codePage, const std::string& bytes, DWORD flags = 0) {
  const int size =
      MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  EXPECT_GT(size, 0) << "last error " << GetLastError();
  std::u16string wide(static_cast<size_t>(size), u'\0');
  EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size),
            size);
  return wide;
}

struct Utf8Case {
  const char* name;
  std::u16string wide;
  std::string bytes;
};

TEST(Utf8, WellFormedTextRoundTrips) {
  const Utf8Case cases[] = {
      {"cyrillic", u"\u041F\u0440\u0438\u0432\u0435\u0442", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"three bytes", u"\u20AC\uFFFF", "\xE2\x82\xAC\xEF\xBF\xBF"},
      {"surrogate pair is one four-byte sequence", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"highest code point", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {"embedded zero", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      // Latin-1 in runs of four: what the ASCII fast path must not take for ASCII.
      {"latin-1", u"abcd\u0080\u00A0\u00E9\u00FF", "abcd\xC2\x80\xC2\xA0\xC3\xA9\xC3\xBF"},
  };
  for (const Utf8Case& c : cases) {
    EXPECT_EQ(narrow(CP_UTF8, c.wide), c.bytes) << c.name;
    EXPECT_EQ(widen(CP_UTF8, c.bytes), c.wide) << c.name;
  }
  // A high surrogate just before the terminator of a -1 length is lone.
  const char16_t text[] = {u'a', 0xD800, 0};
  char bytes[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr), 5);
  EXPECT_EQ(std::string(bytes), "a\xEF\xBF\xBD");
}

// What the UTF-8 of a text must decode to: the text with each lone
// surrogate replaced by U+FFFD.
std::u16string withLoneSurrogatesReplaced(std::u16string text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]))
      ++i;
    else if (IS_HIGH_SURROGATE(text[i]) || IS_LOW_SURROGATE(text[i]))
      text[i] = 0xFFFD;
  }
  return text;
}

TEST(Utf8, RandomTextsWithEverySurrogateEdgeEncodeToWhatDecodesBack) {
  // Every edge of the encoder's ranges, the surrogate ends among them.
  const char16_t edges[] = {0x00,   0x41,   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                            0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFE, 0xFFFF};
  std::mt19937 random(12);
  std::vector<std::u16string> texts;
  // Four kinds of text: any units, the edges often; mostly one- and two-byte
  // units; ASCII with a Latin-1 letter or an edge now and then; whole code
  // points of every UTF-8 length with a lone surrogate now and then. All but
  // the first are long enough for the block code to start at every offset.
  for (int t = 0; t < 1200; ++t) {
    const int kind = t % 4;
    const size_t length = 1 + random() % (kind == 0 ? 64 : 200);
    std::u16string text;
    while (text.size() < length) {
      const unsigned pick = random() % 24;
      if (kind == 0) {
        text += pick < std::size(edges) ? edges[pick] : static_cast<char16_t>(random() % 0x10000);
      } else if (kind == 1) {
        text += pick == 0 ? edges[random() % std::size(edges)] : static_cast<char16_t>(random() % (pick % 2 ? 0x80 : 0x800));
      } else if (kind == 2) {
        text += pick < 22 ? static_cast<char16_t>(random() % 0x80)
                : pick == 22 ? static_cast<char16_t>(0x80 + random() % 0x80)
                             : edges[random() % std::size(edges)];
      } else {
        const char32_t c = pick == 0 ? 0xD800 + random() % 0x800
                           : pick < 6 ? random() % 0x80
                           : pick < 10 ? random() % 0x800
                           : pick < 17 ? random() % 0xD800
                                       : 0x10000 + random() % 0x100000;
        if (c < 0x10000)
          text += static_cast<char16_t>(c);
        else
          text += {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)), static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
      }
    }
    texts.push_back(text);
  }
  // Short texts that begin with a pair, and across the converter's piece
  // boundary: a pair split there, then a lone high surrogate there.
  for (size_t n = 2; n < 80; ++n) texts.push_back(u"\U0001F600" + std::u16string(n, u'x'));
  std::u16string longText((1 << 20) - 1, u'x');
  texts.push_back(longText + u"\U0001F600" + longText + u'\xD800' + u'y');
  for (const std::u16string& text : texts) {
    const std::string bytes = narrow(CP_UTF8, text);
    const std::u16string expected = withLoneSurrogatesReplaced(text);
    ASSERT_EQ(widen(CP_UTF8, bytes, MB_ERR_INVALID_CHARS), expected);
    ASSERT_EQ(bytes, narrow(CP_UTF8, expected, WC_ERR_INVALID_CHARS));
    // The path of a processor without vector instructions gives the same bytes.
    TvUseVectorConversion(FALSE);
    const std::string plain = narrow(CP_UTF8, text);
    TvUseVectorConversion(TRUE);
    ASSERT_EQ(plain, bytes);
  }
}

TEST(Utf8, IllFormedBytesBecomeOneReplacementPerMaximalPart) {
  const Utf8Case cases[] = {
      {"stray continuation", u"\uFFFDa", "\x80" "a"},
      {"invalid byte", u"a\uFFFD", "a\xFF"},
      {"truncated at end", u"a\uFFFD", "a\xE2\x82"},
      {"truncated before letter", u"\uFFFDb", "\xF0\x9F\x98" "b"},
      {"overlong two bytes", u"\uFFFD\uFFFD", "\xC0\x80"},
      {"overlong three bytes", u"\uFFFD\uFFFD\uFFFD", "\xE0\x80\x80"},
      {"encoded surrogate", u"\uFFFD\uFFFD\uFFFD", "\xED\xA0\x80"},
      {"above U+10FFFF", u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xF4\x90\x80\x80"},
  };
  for (const Utf8Case& c : cases) {
    EXPECT_EQ(widen(CP_UTF8, c.bytes), c.wide) << c.name;
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                  nullptr, 0),
              0)
        << c.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION)) << c.name;
  }
}

TEST(SizeProtocol, MinusOneCountsTheTerminatorAndPositiveCountDoesNot) {
  const char16_t text[] = u"\u0416z";  // 2 characters, 3 UTF-8 bytes
  char bytes[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 2, bytes, 4, nullptr, nullptr), 3);
  EXPECT_EQ(bytes[3], 'x');  // no terminator unless it was counted
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, 4, nullptr, nullptr), 4);
  EXPECT_EQ(bytes[3], '\0');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xD0\x96z", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xD0\x96z", 3, nullptr, 0), 2);
}

TEST(SizeProtocol, RefusalsCarryWindowsCodes) {
  char bytes[8];
  char16_t wide[8];
  // To UTF-8 (or code page 1251) from the given text and length, into a buffer of the given size.
  auto toBytes = [&](UINT page, DWORD flags, const char16_t* text, int length, int size,
                     const char* defaultChar = nullptr) {
    return [=, &bytes] {
      return WideCharToMultiByte(page, flags, text, length, size ? bytes : nullptr, size, defaultChar, nullptr);
    };
  };
  auto toWide = [&](UINT page, const char* text, int length, int size) {
    return [=, &wide] { return MultiByteToWideChar(page, 0, text, length, wide, size); };
  };
  const struct {
    const char* name;
    std::function<int()> call;
    DWORD error;
  } cases[] = {
      {"wide length 0", toBytes(CP_UTF8, 0, u"a", 0, 8), ERROR_INVALID_PARAMETER},
      {"null wide source", toBytes(CP_UTF8, 0, nullptr, -1, 8), ERROR_INVALID_PARAMETER},
      {"null output with size", [] { return WideCharToMultiByte(CP_UTF8, 0, u"a", -1, nullptr, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"negative output size", toWide(CP_UTF8, "a", -1, -1), ERROR_INVALID_PARAMETER},
      {"default char with UTF-8", toBytes(CP_UTF8, 0, u"a", -1, 8, "?"), ERROR_INVALID_PARAMETER},
      {"UTF-8 with best-fit flag", toBytes(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"a", -1, 8), ERROR_INVALID_FLAGS},
      {"ANSI with UTF-8-only flag", toBytes(1251, WC_ERR_INVALID_CHARS, u"a", -1, 8), ERROR_INVALID_FLAGS},
      {"unknown code page", toWide(12345, "a", -1, 8), ERROR_INVALID_PARAMETER},
      {"output too small", toBytes(CP_UTF8, 0, u"\u0416z", -1, 3), ERROR_INSUFFICIENT_BUFFER},
      {"no room for a pair's second unit", toWide(CP_UTF8, "\xF0\x9F\x98\x80", 4, 1), ERROR_INSUFFICIENT_BUFFER},
      {"lone surrogate refused", toBytes(CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xDC00", 2, 0), ERROR_NO_UNICODE_TRANSLATION},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(c.call(), 0) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
}

// A long text of units that make several bytes each, into a buffer far too
// small: refused, and nothing written past the buffer, by the vector code
// (whose 16-byte stores run ahead of what it counts) and the plain one.
TEST(SizeProtocol, TooSmallABufferIsNeverWrittenPast) {
  std::u16string mixed;
  for (int i = 0; i < 40; ++i) mixed += u"a\u0416\u4E2D\U0001F600";
  const std::u16string texts[] = {std::u16string(64, u'\u4E2D'), std::u16string(200, u'\u0416'), mixed};
  const std::string guard(128, '\x5A');
  for (const BOOL vectors : {TRUE, FALSE}) {
    TvUseVectorConversion(vectors);
    for (const std::u16string& text : texts)
      for (const int size : {1, 17, 40, 64, 100}) {
        std::string buffer(static_cast<size_t>(size), '\0');
        buffer += guard;
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), buffer.data(), size,
                                      nullptr, nullptr),
                  0);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(buffer.substr(static_cast<size_t>(size)), guard)
            << "written past " << size << " bytes, vectors " << vectors << ", text of " << text.size();
      }
  }
  TvUseVectorConversion(TRUE);
}

// ---- the thread's ANSI code page ---------------------------------------------------

TEST(ThreadCodePage, FollowsACp1251LocaleInThisThreadOnly) {
  if (!ThreadLocale::available("ru_RU.CP1251")) GTEST_SKIP() << "no ru_RU.CP1251 locale";
  ThreadLocale locale("ru_RU.CP1251");
  const std::string bytes = "\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB8 \xB9";  // "Привет Ёё №"
  const std::u16string wide = u"\u041F\u0440\u0438\u0432\u0435\u0442 \u0401\u0451 \u2116";
  EXPECT_EQ(narrow(CP_THREAD_ACP, wide), bytes);
  EXPECT_EQ(widen(CP_THREAD_ACP, bytes), wide);
  // Every byte maps to a character and back; 0x98, unassigned, stands for itself.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(narrow(CP_THREAD_ACP, widen(CP_THREAD_ACP, all)), all);
  EXPECT_EQ(widen(CP_THREAD_ACP, "\x98"), u"\u0098");
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, "\x98", 1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

  // What cannot be mapped becomes the default character, each half of a pair on its own.
  const struct {
    std::u16string wide;
    const char* defaultChar;
    std::string bytes;
    BOOL used;
  } cases[] = {{u"\u0416", nullptr, "\xC6", FALSE}, {u"x\u4E2D", "*", "x*", TRUE}, {u"\U0001F600", nullptr, "??", TRUE}};
  for (const auto& c : cases) {
    BOOL used = 2;
    char out[16] = {};
    const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, c.wide.data(), static_cast<int>(c.wide.size()), out,
                                      sizeof(out), c.defaultChar, &used);
    EXPECT_EQ(std::string(out, static_cast<size_t>(std::max(n, 0))), c.bytes);
    EXPECT_EQ(used, c.used);
  }
  std::u16string seenByOtherThread;
  std::thread([&] {
    ThreadLocale utf8("C.UTF-8");
    seenByOtherThread = widen(CP_THREAD_ACP, "\xD0\x96");
  }).join();
  EXPECT_EQ(seenByOtherThread, u"\u0416");
  EXPECT_EQ(widen(CP_THREAD_ACP, "\xC6"), u"\u0416");
}

TEST(ThreadLocaleId, IsPerThreadEnglishByDefault) {
  EXPECT_EQ(GetThreadLocale(), 0x0409u);
  ASSERT_TRUE(SetThreadLocale(0x0419));
  LCID other = 0;
  std::thread([&] { other = GetThreadLocale(); }).join();
  EXPECT_EQ(GetThreadLocale() + other, 0x0419u + 0x0409u);
  EXPECT_TRUE(SetThreadLocale(0x0409));
}

}  // namespace
