// The four kinds of text that signString is measured on: ASCII, Cyrillic,
// mixed Cyrillic and Latin with a sign of three bytes, CJK with emoji
// (surrogate pairs).
#pragma once

#include <windows.h>

#include <string>

namespace tvbench {

inline const std::u16string kTexts[] = {
    u"The quick brown fox jumps over the lazy dog. ",
    u"Съешь же ещё этих мягких французских булок, да выпей чаю. ",
    u"Договор № 42 от 01.02.2024, contract signed by Иванов И. И. ",
    u"漢字と仮名の文章😀、署名する🖋。",
};

inline std::string utf8Of(const std::u16string& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// The piece repeated until its UTF-8 reaches `bytes`.
inline std::u16string textOf(const std::u16string& piece, size_t bytes) {
  const size_t pieceBytes = utf8Of(piece).size();
  std::u16string text;
  for (size_t made = 0; made < bytes; made += pieceBytes) text += piece;
  return text;
}

}  // namespace tvbench
