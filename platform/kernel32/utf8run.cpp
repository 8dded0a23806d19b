// UTF-16 -> UTF-8 a block of units at a time. Every text that is signed
// goes through here, and ICU's converter takes 0.7-1.7 ns a unit, from 3%
// to 8% of what the hash then spends on the bytes; these loops take 0.1 to
// 0.7 ns. What they leave (a lone surrogate, the last units) goes to ICU,
// which their result must equal byte for byte.
#include "kernel32/utf8run.h"

#include <windows.h>

#include <tvplatform.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tv {
namespace {

// Leading ASCII units in blocks of 32, in plain loops that the compiler
// turns into vector code: what a processor without AVX2 gets.
size_t asciiRun(const char16_t* s, size_t n, char* to, size_t room, size_t& written) {
  constexpr size_t kBlock = 32;
  const size_t limit = std::min(n, room);
  size_t done = 0;
  while (limit - done >= kBlock) {
    unsigned any = 0;
    for (size_t i = 0; i < kBlock; ++i) any |= s[done + i];
    if (any >= 0x80) break;
    if (to != nullptr) {
      char block[kBlock];  // its own array: a char pointer may alias the text, which stops the vector code
      for (size_t i = 0; i < kBlock; ++i) block[i] = static_cast<char>(s[done + i]);
      std::memcpy(to + done, block, kBlock);
    }
    done += kBlock;
  }
  written = done;
  return done;
}

#if defined(__x86_64__)

// The byte shuffles that put a block's UTF-8 in order, and the block's
// length, looked up by the block's kind of units.
struct Shuffles {
  // Eight units below U+0800, by which of them are ASCII: both bytes of
  // each unit are made side by side, and ASCII units drop their second.
  alignas(16) unsigned char shortUnits[256][16] = {};
  unsigned char shortLength[256] = {};
  // Four units of any kind, each as lead, middle and last byte in a 32-bit
  // lane, by which lanes drop their last byte (bits 0-3) and which their
  // middle one (bits 4-7).
  alignas(16) unsigned char anyUnits[256][16] = {};
  unsigned char anyLength[256] = {};

  constexpr Shuffles() {
    for (unsigned ascii = 0; ascii < 256; ++ascii) {
      unsigned n = 0;
      for (unsigned lane = 0; lane < 8; ++lane) {
        shortUnits[ascii][n++] = static_cast<unsigned char>(2 * lane);
        if (!(ascii >> lane & 1)) shortUnits[ascii][n++] = static_cast<unsigned char>(2 * lane + 1);
      }
      shortLength[ascii] = static_cast<unsigned char>(n);
      while (n < 16) shortUnits[ascii][n++] = 0x80;
    }
    for (unsigned drop = 0; drop < 256; ++drop) {
      unsigned n = 0;
      for (unsigned lane = 0; lane < 4; ++lane) {
        anyUnits[drop][n++] = static_cast<unsigned char>(4 * lane);
        if (!(drop >> (4 + lane) & 1)) anyUnits[drop][n++] = static_cast<unsigned char>(4 * lane + 1);
        if (!(drop >> lane & 1)) anyUnits[drop][n++] = static_cast<unsigned char>(4 * lane + 2);
      }
      anyLength[drop] = static_cast<unsigned char>(n);
      while (n < 16) anyUnits[drop][n++] = 0x80;
    }
  }
};

// Made by the compiler: no set-up and no guard on the way in.
constexpr Shuffles kShuffles;

#define TV_SIMD __attribute__((target("avx2"), always_inline)) inline

TV_SIMD __m128i shuffle(__m128i bytes, const unsigned char (&order)[16]) {
  return _mm_shuffle_epi8(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(order)));
}

// A vector of eight or sixteen units, each `value`.
TV_SIMD __m128i splat8(unsigned value) { return _mm_set1_epi16(static_cast<short>(value)); }
TV_SIMD __m256i splat16(unsigned value) { return _mm256_set1_epi16(static_cast<short>(value)); }

// Sixteen bytes at `to`, of which the caller counts only the first few;
// the rest is written over by the next block.
TV_SIMD void store(char* to, __m128i bytes) { _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes); }

// Eight units below U+0800 (Latin, Cyrillic, Greek, Hebrew, Arabic);
// returns the bytes they make.
TV_SIMD size_t shortUnits(__m128i units, char* to) {
  const __m128i ascii = _mm_cmplt_epi16(units, splat8(0x80));
  const __m128i lead = _mm_or_si128(_mm_srli_epi16(units, 6), splat8(0xC0));
  const __m128i trail = _mm_or_si128(_mm_and_si128(units, splat8(0x3F)), splat8(0x80));
  const __m128i pairs = _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
  const __m128i both = _mm_blendv_epi8(pairs, units, ascii);
  const unsigned lanes = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ascii, _mm_setzero_si128())));
  const size_t length = kShuffles.shortLength[lanes];
  if (to != nullptr) store(to, shuffle(both, kShuffles.shortUnits[lanes]));
  return length;
}

// The shuffles for two quarter blocks, one in each 128-bit half, by the
// bytes that their lanes drop.
TV_SIMD __m256i anyOrder(unsigned first, unsigned second) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kShuffles.anyUnits[first]))),
      _mm_load_si128(reinterpret_cast<const __m128i*>(kShuffles.anyUnits[second])), 1);
}

// Sixteen units of any kind (CJK, signs, emoji), s[0] to s[15]; s[-1] and
// s[16] may be read. Each unit makes a lead, a middle and a last byte side
// by side; a shuffle keeps the lead, the middle of a three-byte unit and
// the last of any unit but ASCII. The halves of a pair make two bytes each:
// the high half the first two of the four (it holds the code point's top
// bits), the low half the last two (taking the high half's lowest two bits
// from the unit before it). A high half in the last lane sets `pairOpen`
// for the next block, which starts with its low half. Returns false,
// writing nothing, when one of the sixteen is a lone surrogate.
TV_SIMD bool anyUnits(const char16_t* s, bool first, char* to, size_t& length, int& pairOpen) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  const __m256i kind = _mm256_and_si256(x, splat16(0xFC00));
  const __m256i high = _mm256_cmpeq_epi16(kind, splat16(0xD800));
  const __m256i low = _mm256_cmpeq_epi16(kind, splat16(0xDC00));
  const uint32_t highs = static_cast<uint32_t>(_mm256_movemask_epi8(high));  // two bits a unit
  const uint32_t lows = static_cast<uint32_t>(_mm256_movemask_epi8(low));
  if ((lows & ~(highs << 2 | static_cast<uint32_t>(pairOpen) * 3)) != 0) return false;
  if ((highs & ~(lows >> 2) & 0x3FFFFFFF) != 0) return false;
  if ((highs >> 30) != 0 && (s[16] & 0xFC00) != 0xDC00) return false;

  const __m256i zero = _mm256_setzero_si256();
  const __m256i ascii = _mm256_cmpeq_epi16(_mm256_and_si256(x, splat16(0xFF80)), zero);
  const __m256i short_ = _mm256_cmpeq_epi16(_mm256_and_si256(x, splat16(0xF800)), zero);
  const __m256i x6 = _mm256_srli_epi16(x, 6);
  const __m256i top = _mm256_sub_epi16(x, splat16(0xD7C0));  // a high half's code point >> 10
  const __m256i sixBits = splat16(0x3F);
  const __m256i trailing = splat16(0x80);
  const __m256i last = _mm256_or_si256(_mm256_and_si256(x, sixBits), trailing);
  const __m256i middle = _mm256_or_si256(
      _mm256_and_si256(_mm256_blendv_epi8(x6, _mm256_srli_epi16(top, 2), high), sixBits), trailing);
  __m256i lead = _mm256_or_si256(_mm256_srli_epi16(x, 12), splat16(0xE0));
  lead = _mm256_blendv_epi8(lead, _mm256_or_si256(x6, splat16(0xC0)), short_);
  lead = _mm256_blendv_epi8(lead, x, ascii);
  lead = _mm256_blendv_epi8(lead, _mm256_or_si256(_mm256_srli_epi16(top, 8), splat16(0xF0)), high);
  const __m256i before =
      first ? _mm256_alignr_epi8(x, _mm256_permute2x128_si256(x, x, 0x08), 14)
            : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s - 1));
  const __m256i pairLead = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(before, splat16(3)), 4),
                                           _mm256_and_si256(x6, splat16(0x0F)));
  lead = _mm256_blendv_epi8(lead, _mm256_or_si256(pairLead, trailing), low);

  const __m256i leadMiddle = _mm256_or_si256(lead, _mm256_slli_epi16(middle, 8));
  // A byte per unit that drops its last byte, then one that drops its
  // middle one, regrouped so that each byte of the mask is a quarter block's.
  const __m256i dropped = _mm256_packs_epi16(_mm256_or_si256(ascii, high), _mm256_or_si256(short_, low));
  const __m256i byQuarter = _mm256_shuffle_epi8(
      dropped, _mm256_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13, 14, 15, 0, 1, 2, 3, 8, 9, 10, 11, 4, 5,
                                6, 7, 12, 13, 14, 15));
  const uint32_t quarters = static_cast<uint32_t>(_mm256_movemask_epi8(byQuarter));
  const unsigned q0 = quarters & 0xFF, q1 = quarters >> 8 & 0xFF, q2 = quarters >> 16 & 0xFF, q3 = quarters >> 24;
  // The lower 128 bits of the first hold units 0-3, of the second units
  // 4-7; the upper ones units 8-11 and 12-15.
  const __m256i even = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(leadMiddle, last), anyOrder(q0, q2));
  const __m256i odd = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(leadMiddle, last), anyOrder(q1, q3));
  const size_t at1 = kShuffles.anyLength[q0];
  const size_t at2 = at1 + kShuffles.anyLength[q1];
  const size_t at3 = at2 + kShuffles.anyLength[q2];
  if (to != nullptr) {
    store(to, _mm256_castsi256_si128(even));
    store(to + at1, _mm256_castsi256_si128(odd));
    store(to + at2, _mm256_extracti128_si256(even, 1));
    store(to + at3, _mm256_extracti128_si256(odd, 1));
  }
  length = at3 + kShuffles.anyLength[q3];
  pairOpen = static_cast<int>(highs >> 31);
  return true;
}

// Blocks start at fixed steps (32 or 16 units by the kind of block), so
// that where the next one starts never waits for the data just read. Each
// block is stored sixteen bytes at a time, up to twelve past its own bytes:
// the run stops 16 units before the end of the text, whose bytes (16 at
// least) then cover those. A pair across two blocks is written half by
// half; when the run stops between the halves, the first half is taken back
// for the caller to write whole.
__attribute__((target("avx2"))) size_t avx2Run(const char16_t* s, size_t n, char* to, size_t room,
                                                size_t& written) {
  constexpr size_t kAfter = 16;  // units left to the caller
  size_t done = 0;
  size_t made = 0;  // not `written`: a store through `to` could change it, as far as the compiler knows
  int pairOpen = 0;  // the unit at `done` is the low half of a pair whose high half is written
  while (n - done >= 16 + kAfter && room - made >= 64) {
    char* at = to != nullptr ? to + made : nullptr;
    // A signed text is read once, in pieces between which the hash fills the
    // nearer caches: it is asked for 512 units ahead (an address reckoned
    // as a number: it may lie past the text, which a prefetch may name).
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(s + done) + 1024), _MM_HINT_T0);
    const __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + done));
    if (n - done >= 32 + kAfter) {
      const __m256i more = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + done + 16));
      if (_mm256_testz_si256(_mm256_or_si256(units, more), splat16(0xFF80))) {
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(units, more), 0xD8);
        if (at != nullptr) _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), bytes);
        made += 32;
        done += 32;
        continue;
      }
    }
    if (_mm256_testz_si256(units, splat16(0xF800))) {
      const size_t lower = shortUnits(_mm256_castsi256_si128(units), at);
      made += lower + shortUnits(_mm256_extracti128_si256(units, 1), at != nullptr ? at + lower : nullptr);
      done += 16;
      continue;
    }
    size_t length = 0;
    if (!anyUnits(s + done, done == 0, at, length, pairOpen)) break;
    made += length;
    done += 16;
  }
  written = made - 2 * static_cast<size_t>(pairOpen);
  return done - static_cast<size_t>(pairOpen);
}

#undef TV_SIMD

#endif

std::atomic<bool> vectorsAllowed{true};

}  // namespace

size_t utf8Run(const char16_t* units, size_t n, char* to, size_t room, size_t& written) {
  const size_t limit = to != nullptr ? room : SIZE_MAX;
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2 && vectorsAllowed.load(std::memory_order_relaxed)) return avx2Run(units, n, to, limit, written);
#endif
  return asciiRun(units, n, to, limit, written);
}

}  // namespace tv

WINBASEAPI void WINAPI TvUseVectorConversion(BOOL use) { tv::vectorsAllowed.store(use != FALSE); }
