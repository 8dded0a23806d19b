// kernel32: MultiByteToWideChar and WideCharToMultiByte. UTF-8 is decoded
// here and encoded a block at a time, ICU taking what the block code leaves
// (it carries every text that is signed); the thread's ANSI code page is the
// character set of the thread's locale, read through iconv.
#include "kernel32/codepage.h"
#include "kernel32/utf8run.h"
#include "internal/win32call.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <unicode/ustring.h>

namespace {

const char16_t kReplacement = 0xFFFD;

// The caller's output buffer, or only a count when the caller asks for the
// size (capacity 0).
template <class Char>
class Output {
 public:
  Output(Char* buffer, int capacity) : buffer_(buffer), capacity_(static_cast<size_t>(capacity)) {}

  void put(Char c) {
    if (capacity_ != 0) {
      if (count_ == capacity_) tv::fail(ERROR_INSUFFICIENT_BUFFER);
      buffer_[count_] = c;
    }
    if (++count_ > static_cast<size_t>(INT_MAX)) tv::fail(ERROR_ARITHMETIC_OVERFLOW);
  }

  // Where the next characters go (null when only counting) and how many fit.
  Char* next() const { return capacity_ != 0 ? buffer_ + count_ : nullptr; }
  size_t room() const { return capacity_ - count_; }

  // A run of characters, with one bounds check for the run.
  void putRun(const Char* run, size_t length) {
    if (capacity_ != 0) {
      if (capacity_ - count_ < length) tv::fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(buffer_ + count_, run, length * sizeof(Char));
    }
    count_ += length;
    if (count_ > static_cast<size_t>(INT_MAX)) tv::fail(ERROR_ARITHMETIC_OVERFLOW);
  }

  // Counts characters that a converter wrote at next() itself.
  void advance(size_t length) {
    if (capacity_ != 0 && capacity_ - count_ < length) tv::fail(ERROR_INSUFFICIENT_BUFFER);
    count_ += length;
    if (count_ > static_cast<size_t>(INT_MAX)) tv::fail(ERROR_ARITHMETIC_OVERFLOW);
  }

  int count() const { return static_cast<int>(count_); }

 private:
  Char* buffer_;
  size_t capacity_;
  size_t count_ = 0;
};

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool isSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// ---- UTF-8 -------------------------------------------------------------------

void putCodePoint(Output<WCHAR>& out, char32_t c) {
  if (c < 0x10000) {
    out.put(static_cast<WCHAR>(c));
  } else {
    c -= 0x10000;
    out.put(static_cast<WCHAR>(0xD800 + (c >> 10)));
    out.put(static_cast<WCHAR>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes one well-formed sequence starting at s[i] (a byte >= 0x80); on an
// ill-formed one, returns false with end just past its longest valid prefix,
// the part that one U+FFFD replaces.
bool decodeSequence(const unsigned char* s, size_t n, size_t i, char32_t& c, size_t& end) {
  const unsigned char lead = s[i];
  size_t trail;
  unsigned char low = 0x80, high = 0xBF;  // the range of the first trailing byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;  // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    end = i + 1;
    return false;
  }
  end = i + 1;
  for (size_t k = 0; k < trail; ++k, ++end) {
    if (end == n || s[end] < low || s[end] > high) return false;
    c = (c << 6) | (s[end] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return true;
}

int utf8ToWide(DWORD flags, const unsigned char* s, size_t n, Output<WCHAR>& out) {
  tv::require((flags & ~MB_ERR_INVALID_CHARS) == 0, ERROR_INVALID_FLAGS);
  for (size_t i = 0; i < n;) {
    if (s[i] < 0x80) {
      out.put(s[i++]);
      continue;
    }
    char32_t c;
    size_t end;
    if (decodeSequence(s, n, i, c, end)) {
      putCodePoint(out, c);
    } else {
      if (flags & MB_ERR_INVALID_CHARS) tv::fail(ERROR_NO_UNICODE_TRANSLATION);
      out.put(kReplacement);
    }
    i = end;
  }
  return out.count();
}

// The leading units up to a lone surrogate, converted a block at a time;
// what follows goes to ICU.
size_t fastRun(const WCHAR* s, size_t n, Output<char>& out) {
  char* to = out.next();
  size_t written = 0;
  const size_t done = tv::utf8Run(s, n, to, to != nullptr ? out.room() : 0, written);
  out.advance(written);
  return done;
}

// ICU converts; it takes 32-bit lengths, so the text goes in pieces, none
// ending between the two halves of a surrogate pair. A lone surrogate
// becomes U+FFFD; with WC_ERR_INVALID_CHARS the call fails, after converting
// the rest as Windows does.
//
// ICU ends its output with a zero when there is room: inside the text the
// next piece writes over it, and the last few units go through a buffer of
// our own, so that no byte past the converted count changes.
int wideToUtf8(DWORD flags, const WCHAR* s, size_t n, Output<char>& out) {
  tv::require((flags & ~WC_ERR_INVALID_CHARS) == 0, ERROR_INVALID_FLAGS);
  constexpr size_t kPiece = 1 << 20;
  constexpr size_t kTail = 64;
  constexpr size_t kShortSpan = 64;
  bool invalid = false;
  size_t span = kShortSpan;  // what ICU converts where the block code stops
  for (size_t begin = 0; begin < n;) {
    const size_t fast = fastRun(s + begin, n - begin, out);
    begin += fast;
    if (begin == n) break;
    // Text the block code keeps stopping on (lone surrogates, say) goes to
    // ICU in ever longer pieces, so that each call of ICU's costs little.
    span = fast >= kShortSpan ? kShortSpan : std::min(span * 2, kPiece);
    const size_t remaining = n - begin;
    const bool tail = remaining <= kTail;
    size_t end = tail ? n : begin + std::min(span, remaining - kTail);
    // A pair across the end goes whole into the next piece, or into this
    // one when it would be all this piece holds.
    if (end < n && isHighSurrogate(s[end - 1]) && isLowSurrogate(s[end])) {
      if (end - 1 > begin)
        --end;
      else
        ++end;
    }
    char tailBytes[kTail * 3];
    char* to = out.next();
    size_t room = to != nullptr ? std::min<size_t>(out.room(), INT32_MAX) : 0;
    if (tail && to != nullptr) {
      to = tailBytes;
      room = sizeof tailBytes;
    }
    int32_t written = 0;
    int32_t substitutions = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(to, static_cast<int32_t>(room), &written, s + begin, static_cast<int32_t>(end - begin),
                       kReplacement, &substitutions, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && to == nullptr) status = U_ZERO_ERROR;  // only counting
    if (status == U_BUFFER_OVERFLOW_ERROR) tv::fail(ERROR_INSUFFICIENT_BUFFER);
    if (U_FAILURE(status)) tv::fail(ERROR_GEN_FAILURE);
    if (to == tailBytes)
      out.putRun(tailBytes, static_cast<size_t>(written));
    else
      out.advance(static_cast<size_t>(written));
    invalid = invalid || substitutions != 0;
    begin = end;
  }
  if (invalid && (flags & WC_ERR_INVALID_CHARS)) tv::fail(ERROR_NO_UNICODE_TRANSLATION);
  return out.count();
}

bool hasLoneSurrogate(const WCHAR* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!isSurrogate(s[i])) continue;
    if (!isHighSurrogate(s[i]) || i + 1 == n || !isLowSurrogate(s[i + 1])) return true;
    ++i;
  }
  return false;
}

// ---- character sets through iconv --------------------------------------------

class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from) : handle_(iconv_open(to.c_str(), from.c_str())) {
    if (handle_ == reinterpret_cast<iconv_t>(-1)) tv::fail(ERROR_INVALID_PARAMETER);
  }
  ~Iconv() { iconv_close(handle_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts as much as it can; returns 0 or the errno that stopped it.
  int convert(const char*& in, size_t& inLeft, char*& out, size_t& outLeft) {
    char* source = const_cast<char*>(in);
    const size_t result = iconv(handle_, &source, &inLeft, &out, &outLeft);
    in = source;
    return result == static_cast<size_t>(-1) ? errno : 0;
  }

  void reset() { iconv(handle_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t handle_;
};

// A one-byte character set as two tables. Bytes the set leaves undefined
// stand for U+0080..U+00FF of the same value, as in Windows' tables, and
// map back to themselves.
struct SingleByteSet {
  WCHAR toWide[256];
  bool defined[256];
  std::unordered_map<WCHAR, unsigned char> toNarrow;
};

// Reads a one-byte set from iconv; null when the set has multi-byte
// characters.
std::unique_ptr<SingleByteSet> readSingleByteSet(const std::string& charset) {
  Iconv toUtf16("UTF-16LE", charset);
  auto set = std::make_unique<SingleByteSet>();
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    const char* in = &byte;
    size_t inLeft = 1;
    char16_t units[2] = {0, 0};
    char* out = reinterpret_cast<char*>(units);
    size_t outLeft = sizeof(units);
    const int error = toUtf16.convert(in, inLeft, out, outLeft);
    toUtf16.reset();
    if (error == EINVAL) return nullptr;  // the lead byte of a longer character
    set->defined[b] = error == 0 && outLeft == 2;
    if (error == 0 && outLeft == 0) return nullptr;  // one byte, two units
    set->toWide[b] = set->defined[b] ? units[0] : static_cast<WCHAR>(b);
  }
  for (int pass = 0; pass < 2; ++pass)  // defined bytes take precedence
    for (int b = 0; b < 256; ++b)
      if (set->defined[b] == (pass == 0)) set->toNarrow.emplace(set->toWide[b], static_cast<unsigned char>(b));
  return set;
}

// One-byte sets are read once per process and kept, also through the
// static destructors of other modules, which may still convert text.
const SingleByteSet* singleByteSet(const std::string& charset) {
  static auto* lock = new std::mutex;
  static auto* sets = new std::map<std::string, std::unique_ptr<SingleByteSet>>;
  std::lock_guard<std::mutex> guard(*lock);
  auto found = sets->find(charset);
  if (found == sets->end()) found = sets->emplace(charset, readSingleByteSet(charset)).first;
  return found->second.get();
}

char defaultCharacter(LPCSTR lpDefaultChar) { return lpDefaultChar != nullptr ? lpDefaultChar[0] : '?'; }

int singleByteToWide(const SingleByteSet& set, DWORD flags, const unsigned char* s, size_t n,
                     Output<WCHAR>& out) {
  for (size_t i = 0; i < n; ++i) {
    if (!set.defined[s[i]] && (flags & MB_ERR_INVALID_CHARS)) tv::fail(ERROR_NO_UNICODE_TRANSLATION);
    out.put(set.toWide[s[i]]);
  }
  return out.count();
}

int wideToSingleByte(const SingleByteSet& set, const WCHAR* s, size_t n, char defaultChar, bool& usedDefault,
                     Output<char>& out) {
  for (size_t i = 0; i < n; ++i) {
    if (s[i] < 0x80 && set.toWide[s[i]] == s[i]) {
      out.put(static_cast<char>(s[i]));
      continue;
    }
    const auto found = set.toNarrow.find(s[i]);
    if (found != set.toNarrow.end()) {
      out.put(static_cast<char>(found->second));
    } else {
      // Each UTF-16 unit stands alone here: a surrogate pair gives two.
      usedDefault = true;
      out.put(defaultChar);
    }
  }
  return out.count();
}

// Multi-byte sets other than UTF-8 go through iconv piece by piece; what
// iconv cannot convert becomes U+FFFD or the default character.
int multiByteToWide(const std::string& charset, DWORD flags, const char* s, size_t n, Output<WCHAR>& out) {
  Iconv converter("UTF-16LE", charset);
  while (n > 0) {
    char16_t units[256];
    char* to = reinterpret_cast<char*>(units);
    size_t toLeft = sizeof(units);
    const int error = converter.convert(s, n, to, toLeft);
    for (const char16_t* u = units; u < reinterpret_cast<char16_t*>(to); ++u) out.put(*u);
    if (error == EILSEQ || error == EINVAL) {
      if (flags & MB_ERR_INVALID_CHARS) tv::fail(ERROR_NO_UNICODE_TRANSLATION);
      out.put(kReplacement);
      ++s;
      --n;
    } else if (error != 0 && error != E2BIG) {
      tv::fail(ERROR_GEN_FAILURE);
    }
  }
  return out.count();
}

int wideToMultiByte(const std::string& charset, const WCHAR* s, size_t n, char defaultChar, bool& usedDefault,
                    Output<char>& out) {
  Iconv converter(charset, "UTF-16LE");
  const char* in = reinterpret_cast<const char*>(s);
  size_t inLeft = n * sizeof(WCHAR);
  while (inLeft > 0) {
    char bytes[1024];
    char* to = bytes;
    size_t toLeft = sizeof(bytes);
    const int error = converter.convert(in, inLeft, to, toLeft);
    for (const char* b = bytes; b < to; ++b) out.put(*b);
    if (error == EILSEQ || error == EINVAL) {
      usedDefault = true;
      out.put(defaultChar);
      in += sizeof(WCHAR);
      inLeft -= sizeof(WCHAR);
    } else if (error != 0 && error != E2BIG) {
      tv::fail(ERROR_GEN_FAILURE);
    }
  }
  return out.count();
}

// ---- code pages ----------------------------------------------------------------

struct ResolvedPage {
  bool utf8 = false;
  std::string charset;  // the iconv name when not UTF-8
};

ResolvedPage resolveCodePage(UINT codePage) {
  switch (codePage) {
    case CP_UTF8: return {true, ""};
    case CP_ACP:
    case CP_THREAD_ACP: {
      const std::string charset = tv::threadCharset();
      return {charset == "UTF-8", charset};
    }
    case CP_OEMCP:
    case 2:  // CP_MACCP
    case 65000:  // CP_UTF7
      tv::fail(ERROR_INVALID_PARAMETER);
    default:
      // A numbered Windows code page that iconv knows ("CP1251", "CP866").
      return {false, "CP" + std::to_string(codePage)};
  }
}

size_t sourceLength(const char* s, int length) { return length < 0 ? std::strlen(s) + 1 : static_cast<size_t>(length); }

size_t sourceLength(const WCHAR* s, int length) {
  if (length >= 0) return static_cast<size_t>(length);
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n + 1;
}

}  // namespace

namespace tv {

std::string threadCharset() {
  const locale_t locale = uselocale(static_cast<locale_t>(0));
  const char* codeset = locale == LC_GLOBAL_LOCALE ? nl_langinfo(CODESET) : nl_langinfo_l(CODESET, locale);
  const std::string name = codeset != nullptr ? codeset : "";
  if (name == "UTF-8" || name == "utf8") return "UTF-8";
  // The C locale's ASCII: an English Windows uses Windows-1252.
  if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") return "CP1252";
  return name;
}

}  // namespace tv

WINBASEAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar) {
  return tv::win32Value<int>(0, [&]() -> int {
    tv::require(lpMultiByteStr != nullptr && cbMultiByte != 0);
    tv::require(cchWideChar >= 0 && (lpWideCharStr != nullptr || cchWideChar == 0));
    tv::require(static_cast<const void*>(lpMultiByteStr) != static_cast<const void*>(lpWideCharStr));
    const ResolvedPage page = resolveCodePage(CodePage);
    const size_t n = sourceLength(lpMultiByteStr, cbMultiByte);
    const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    Output<WCHAR> out(lpWideCharStr, cchWideChar);
    if (page.utf8 && CodePage == CP_UTF8) return utf8ToWide(dwFlags, bytes, n, out);
    tv::require((dwFlags & ~(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)) == 0, ERROR_INVALID_FLAGS);
    if (page.utf8) return utf8ToWide(dwFlags & MB_ERR_INVALID_CHARS, bytes, n, out);
    if (const SingleByteSet* set = singleByteSet(page.charset)) return singleByteToWide(*set, dwFlags, bytes, n, out);
    return multiByteToWide(page.charset, dwFlags, lpMultiByteStr, n, out);
  });
}

WINBASEAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                          LPBOOL lpUsedDefaultChar) {
  return tv::win32Value<int>(0, [&]() -> int {
    tv::require(lpWideCharStr != nullptr && cchWideChar != 0);
    tv::require(cbMultiByte >= 0 && (lpMultiByteStr != nullptr || cbMultiByte == 0));
    tv::require(static_cast<const void*>(lpWideCharStr) != static_cast<const void*>(lpMultiByteStr));
    const ResolvedPage page = resolveCodePage(CodePage);
    const size_t n = sourceLength(lpWideCharStr, cchWideChar);
    Output<char> out(lpMultiByteStr, cbMultiByte);
    if (page.utf8 && CodePage == CP_UTF8) {
      // UTF-8 has no default character.
      tv::require(lpDefaultChar == nullptr && lpUsedDefaultChar == nullptr);
      return wideToUtf8(dwFlags, lpWideCharStr, n, out);
    }
    if (page.utf8) {
      // The ANSI code page of a UTF-8 locale takes the arguments callers
      // give any ANSI code page; a replaced lone surrogate counts as the
      // default character.
      tv::require((dwFlags & ~WC_NO_BEST_FIT_CHARS) == 0, ERROR_INVALID_FLAGS);
      if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
      const int count = wideToUtf8(0, lpWideCharStr, n, out);
      if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = hasLoneSurrogate(lpWideCharStr, n) ? TRUE : FALSE;
      return count;
    }
    tv::require((dwFlags & ~WC_NO_BEST_FIT_CHARS) == 0, ERROR_INVALID_FLAGS);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
    bool usedDefault = false;
    const char defaultChar = defaultCharacter(lpDefaultChar);
    const SingleByteSet* set = singleByteSet(page.charset);
    const int count = set != nullptr ? wideToSingleByte(*set, lpWideCharStr, n, defaultChar, usedDefault, out)
                                     : wideToMultiByte(page.charset, lpWideCharStr, n, defaultChar, usedDefault, out);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    return count;
  });
}
