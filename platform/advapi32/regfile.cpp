// The .reg text form of a hive: what regedit exports and imports.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{...}]
//   @="Default value"
//   "Name"="text with \\ and \" escaped"
//   "Count"=dword:0000002a
//   "Blob"=hex:01,02,ff
//   "Other"=hex(7):41,00,00,00,00,00      (type in hex: 2 expand, 7 multi, b qword)
//
// Long hex data continues on the next line after a trailing backslash. A
// string value is written as a quoted string only when that form gives back
// the same bytes (a terminated UTF-16 text without line breaks); any other
// data is written in hex with its type, so a hive round-trips exactly.
#include "advapi32/regfile.h"

#include "internal/hex.h"
#include "internal/utf.h"
#include "internal/win32call.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdio>

namespace tv {

namespace {

constexpr char header[] = "Windows Registry Editor Version 5.00";

// Windows compares names by their upper case (full Unicode, not just ASCII).
char16_t upper(char16_t c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xD800 && c < 0xE000) return c;
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 == static_cast<locale_t>(0)) return c;
  wint_t u = towupper_l(static_cast<wint_t>(c), utf8);
  return u < 0x10000 ? static_cast<char16_t>(u) : c;
}

[[noreturn]] void corrupt() { fail(ERROR_BADDB); }

}  // namespace

std::u16string registryFold(const std::u16string& name) {
  std::u16string folded = name;
  for (char16_t& c : folded) c = upper(c);
  return folded;
}

bool isStorableName(const std::u16string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    if (c >= 0xD800 && c < 0xDC00) {
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] >= 0xE000) return false;
      ++i;
    } else if (c >= 0xDC00 && c < 0xE000) {
      return false;
    }
  }
  return true;
}

// ---- RegKey -----------------------------------------------------------------

RegKey::~RegKey() {
  std::vector<std::unique_ptr<RegKey>> doomed;
  for (auto& entry : children_) doomed.push_back(std::move(entry.second));
  children_.clear();
  while (!doomed.empty()) {
    std::unique_ptr<RegKey> key = std::move(doomed.back());
    doomed.pop_back();
    for (auto& entry : key->children_) doomed.push_back(std::move(entry.second));
    key->children_.clear();
  }
}

const RegKey* RegKey::child(const std::u16string& name) const {
  auto it = children_.find(registryFold(name));
  return it == children_.end() ? nullptr : it->second.get();
}

RegKey* RegKey::child(const std::u16string& name) {
  return const_cast<RegKey*>(static_cast<const RegKey*>(this)->child(name));
}

RegKey& RegKey::makeChild(const std::u16string& name, bool* created) {
  auto& slot = children_[registryFold(name)];
  if (created != nullptr) *created = slot == nullptr;
  if (slot == nullptr) slot = std::make_unique<RegKey>(name);
  return *slot;
}

bool RegKey::removeChild(const std::u16string& name) { return children_.erase(registryFold(name)) > 0; }

std::vector<const RegKey*> RegKey::children() const {
  std::vector<const RegKey*> out;
  out.reserve(children_.size());
  for (const auto& entry : children_) out.push_back(entry.second.get());
  return out;
}

const RegValue* RegKey::value(const std::u16string& name) const {
  std::u16string folded = registryFold(name);
  for (const RegValue& v : values_)
    if (registryFold(v.name) == folded) return &v;
  return nullptr;
}

void RegKey::setValue(RegValue value) {
  std::u16string folded = registryFold(value.name);
  for (RegValue& v : values_) {
    if (registryFold(v.name) == folded) {
      // The name keeps the case it was first given, as in Windows.
      v.type = value.type;
      v.data = std::move(value.data);
      return;
    }
  }
  values_.push_back(std::move(value));
}

bool RegKey::removeValue(const std::u16string& name) {
  std::u16string folded = registryFold(name);
  auto it = std::find_if(values_.begin(), values_.end(),
                         [&](const RegValue& v) { return registryFold(v.name) == folded; });
  if (it == values_.end()) return false;
  values_.erase(it);
  return true;
}

const RegKey* findKey(const RegKey& from, const std::vector<std::u16string>& path) {
  const RegKey* key = &from;
  for (const auto& name : path) {
    key = key->child(name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

RegKey* findKey(RegKey& from, const std::vector<std::u16string>& path) {
  return const_cast<RegKey*>(findKey(static_cast<const RegKey&>(from), path));
}

// ---- Reading ------------------------------------------------------------------

namespace {

// Regedit itself writes UTF-16 with a byte-order mark; accept that too. Text
// in any other encoding is refused rather than read with replacement
// characters, which the next write would keep in place of the real text.
std::string asUtf8(const std::string& bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    if (bytes.size() % 2 != 0) corrupt();
    std::u16string units;
    for (size_t i = 2; i < bytes.size(); i += 2)
      units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    std::string text = toUtf8(units);
    if (toUtf16(text) != units) corrupt();  // a lone surrogate
    return text;
  }
  const size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (!isUtf8(bytes.data() + start, bytes.size() - start)) corrupt();
  return bytes.substr(start);
}

std::u16string storableName(const std::string& utf8) {
  std::u16string name = toUtf16(utf8);
  if (!isStorableName(name)) corrupt();
  return name;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// A quoted string starting at text[at] (the opening quote); returns its
// unescaped content and moves `at` past the closing quote.
std::string readQuoted(const std::string& text, size_t& at) {
  if (at >= text.size() || text[at] != '"') corrupt();
  std::string out;
  for (size_t i = at + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      at = i + 1;
      return out;
    }
    if (c == '\\') {
      if (i + 1 >= text.size()) corrupt();
      char next = text[++i];
      if (next != '\\' && next != '"') out += '\\';  // regedit keeps other backslashes as they are
      out += next;
    } else {
      out += c;
    }
  }
  corrupt();
}

std::vector<BYTE> readHexBytes(const std::string& text) {
  std::vector<BYTE> bytes;
  std::string item;
  auto flush = [&](bool last) {
    std::string t = trimmed(item);
    item.clear();
    if (t.empty() && last && bytes.empty()) return;
    if (t.size() != 2 || hexValue(t[0]) < 0 || hexValue(t[1]) < 0) corrupt();
    bytes.push_back(static_cast<BYTE>(hexValue(t[0]) * 16 + hexValue(t[1])));
  };
  for (char c : text) {
    if (c == ',')
      flush(false);
    else
      item += c;
  }
  flush(true);
  return bytes;
}

std::vector<BYTE> utf16Bytes(const std::u16string& text, bool terminate) {
  std::vector<BYTE> bytes;
  bytes.reserve(text.size() * 2 + 2);
  for (char16_t u : text) {
    bytes.push_back(static_cast<BYTE>(u & 0xFF));
    bytes.push_back(static_cast<BYTE>(u >> 8));
  }
  if (terminate) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

RegValue parseValue(const std::string& line) {
  RegValue value;
  size_t at = 0;
  if (line[0] == '@') {
    at = 1;
  } else {
    value.name = storableName(readQuoted(line, at));
    if (value.name.empty()) corrupt();  // the default value is written @
  }
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at >= line.size() || line[at] != '=') corrupt();
  std::string data = trimmed(line.substr(at + 1));
  if (!data.empty() && data[0] == '"') {
    size_t end = 0;
    std::string text = readQuoted(data, end);
    if (!trimmed(data.substr(end)).empty()) corrupt();
    value.type = REG_SZ;
    value.data = utf16Bytes(toUtf16(text), true);
  } else if (data.compare(0, 6, "dword:") == 0) {
    std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) corrupt();
    DWORD number = 0;
    for (char c : digits) {
      if (hexValue(c) < 0) corrupt();
      number = number * 16 + static_cast<DWORD>(hexValue(c));
    }
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
  } else if (data.compare(0, 4, "hex:") == 0) {
    value.type = REG_BINARY;
    value.data = readHexBytes(data.substr(4));
  } else if (data.compare(0, 4, "hex(") == 0) {
    size_t close = data.find("):", 4);
    if (close == std::string::npos || close == 4 || close > 12) corrupt();
    DWORD type = 0;
    for (size_t i = 4; i < close; ++i) {
      if (hexValue(data[i]) < 0) corrupt();
      type = type * 16 + static_cast<DWORD>(hexValue(data[i]));
    }
    value.type = type;
    value.data = readHexBytes(data.substr(close + 2));
  } else {
    corrupt();  // includes "-", regedit's request to delete a value
  }
  return value;
}

std::vector<std::u16string> splitKeyPath(const std::string& path) {
  std::vector<std::u16string> names;
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name.empty() || names.size() > kMaxKeyDepth) corrupt();  // the root and 512 levels below it
    names.push_back(storableName(name));
    if (names.size() > 1 && names.back().size() > kMaxKeyName) corrupt();
    if (end == std::string::npos) return names;
    start = end + 1;
  }
}

}  // namespace

std::unique_ptr<RegKey> parseRegFile(const std::string& bytes, const std::u16string& rootName) {
  std::vector<std::string> lines = splitLines(asUtf8(bytes));
  auto root = std::make_unique<RegKey>(rootName);
  size_t i = 0;
  while (i < lines.size() && trimmed(lines[i]).empty()) ++i;
  if (i == lines.size() || trimmed(lines[i]) != header) corrupt();
  RegKey* current = nullptr;
  for (++i; i < lines.size(); ++i) {
    std::string line = trimmed(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') corrupt();
      std::vector<std::u16string> path = splitKeyPath(line.substr(1, line.size() - 2));
      if (registryFold(path[0]) != registryFold(rootName)) corrupt();
      current = root.get();
      for (size_t k = 1; k < path.size(); ++k) current = &current->makeChild(path[k]);
      continue;
    }
    if (current == nullptr) corrupt();
    // Hex data may go on over several lines, each but the last ending in '\'.
    while (line.back() == '\\' && line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
      line.pop_back();
      line += trimmed(lines[++i]);
    }
    current->setValue(parseValue(line));
  }
  return root;
}

// ---- Writing ------------------------------------------------------------------

namespace {

std::string escaped(const std::u16string& text) {
  std::string out;
  for (char c : toUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// The text of a REG_SZ whose quoted form gives back exactly its bytes.
bool plainString(const RegValue& v, std::u16string* text) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  size_t units = v.data.size() / 2 - 1;
  if (v.data[2 * units] != 0 || v.data[2 * units + 1] != 0) return false;
  text->clear();
  for (size_t i = 0; i < units; ++i) {
    char16_t u = static_cast<char16_t>(v.data[2 * i] | (v.data[2 * i + 1] << 8));
    if (u == 0 || u == u'\r' || u == u'\n') return false;
    text->push_back(u);
  }
  // Lone surrogates would not survive the UTF-8 file.
  return toUtf16(toUtf8(*text)) == *text;
}

void writeHex(std::string& out, const std::string& prefix, const std::vector<BYTE>& data) {
  out += prefix;
  size_t column = prefix.size();
  for (size_t i = 0; i < data.size(); ++i) {
    if (column + 3 > 78) {
      out += "\\\r\n  ";
      column = 2;
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", data[i]);
    out += hex;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++column;
    }
  }
  out += "\r\n";
}

void writeValue(std::string& out, const RegValue& v) {
  std::string name = v.name.empty() ? "@" : "\"" + escaped(v.name) + "\"";
  std::u16string text;
  if (plainString(v, &text)) {
    out += name + "=\"" + escaped(text) + "\"\r\n";
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "dword:%02x%02x%02x%02x", v.data[3], v.data[2], v.data[1], v.data[0]);
    out += name + "=" + hex + "\r\n";
  } else if (v.type == REG_BINARY) {
    writeHex(out, name + "=hex:", v.data);
  } else {
    char type[24];
    std::snprintf(type, sizeof type, "=hex(%x):", static_cast<unsigned>(v.type));
    writeHex(out, name + type, v.data);
  }
}

void writeKey(std::string& out, const RegKey& key, const std::string& path) {
  out += "[" + path + "]\r\n";
  for (const RegValue& v : key.values()) writeValue(out, v);
  out += "\r\n";
}

}  // namespace

// Walks the keys in order with a stack of the keys still to write, each
// with the length of its parent's path in `path`.
std::string formatRegFile(const RegKey& root) {
  std::string out = std::string(header) + "\r\n\r\n";
  std::string path;
  std::vector<std::pair<const RegKey*, size_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    auto [key, parentLength] = pending.back();
    pending.pop_back();
    path.resize(parentLength);
    if (key != &root) path += '\\';
    path += toUtf8(key->name());
    if (!key->values().empty() || !key->hasChildren()) writeKey(out, *key, path);
    std::vector<const RegKey*> children = key->children();
    for (auto child = children.rbegin(); child != children.rend(); ++child) pending.emplace_back(*child, path.size());
  }
  return out;
}

}  // namespace tv
