#include "tellvane/registrar.h"

#include "common/wide.h"

#include <memory>
#include <new>
#include <type_traits>

namespace Tellvane {

namespace {

// A script that cannot be read: the code the processor reports for it.
const HRESULT kMalformedScript = DISP_E_EXCEPTION;
// Deeper nesting than any registry allows is refused before it can exhaust the stack.
const int kMaximumDepth = 100;

struct ScriptFailure {
  HRESULT code;
};

[[noreturn]] void malformed() { throw ScriptFailure{kMalformedScript}; }

bool isSpace(WCHAR c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

WCHAR foldCase(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

bool equalNoCase(const WideString& a, const WCHAR* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i)
    if (foldCase(a[i]) != foldCase(b[i])) return false;
  return i == a.size() && b[i] == 0;
}

// ---- Reading ----------------------------------------------------------------------

// %NAME% becomes its replacement and %% a single %, before anything else is read.
WideString expandReplacements(const WideString& text, const Replacements& replacements) {
  WideString out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '%') {
      out += text[at];
      continue;
    }
    const size_t end = text.find('%', at + 1);
    if (end == WideString::npos) malformed();
    const WideString name = text.substr(at + 1, end - at - 1);
    if (name.empty()) {
      out += '%';
    } else {
      const Replacement* found = nullptr;
      for (const Replacement& r : replacements)
        if (equalNoCase(name, r.name.c_str())) found = &r;
      if (found == nullptr) malformed();
      out += found->value;
    }
    at = end;
  }
  return out;
}

struct Token {
  WideString text;
  bool quoted = false;
  bool is(const WCHAR* word) const { return !quoted && equalNoCase(text, word); }
};

class Tokens {
 public:
  explicit Tokens(const WideString& text) : text_(text) {}

  bool atEnd() {
    skipSpace();
    return at_ >= text_.size();
  }

  Token next() {
    skipSpace();
    if (at_ >= text_.size()) malformed();
    Token token;
    const WCHAR first = text_[at_];
    if (first == '}' || first == '=') {
      token.text = first;
      ++at_;
    } else if (first == '\'') {
      token.quoted = true;
      for (++at_;; ++at_) {
        if (at_ >= text_.size()) malformed();
        if (text_[at_] == '\'') {
          if (at_ + 1 < text_.size() && text_[at_ + 1] == '\'') {
            token.text += '\'';
            ++at_;
            continue;
          }
          ++at_;
          break;
        }
        token.text += text_[at_];
      }
    } else {
      const size_t start = at_;
      while (at_ < text_.size() && !isSpace(text_[at_])) ++at_;
      token.text = text_.substr(start, at_ - start);
    }
    return token;
  }

  // Takes the next token when it is the unquoted word given.
  bool accept(const WCHAR* word) {
    const size_t saved = at_;
    if (!atEnd() && next().is(word)) return true;
    at_ = saved;
    return false;
  }

 private:
  void skipSpace() {
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
  }

  const WideString& text_;
  size_t at_ = 0;
};

enum class KeyKind { Plain, NoRemove, ForceRemove, Value, Delete };

struct ScriptKey {
  KeyKind kind = KeyKind::Plain;
  WideString name;
  bool hasValue = false;
  DWORD type = REG_SZ;
  std::vector<BYTE> data;
  std::vector<ScriptKey> children;
};

struct ScriptRoot {
  HKEY root;
  std::vector<ScriptKey> keys;
};

HKEY rootKey(const Token& token) {
  static const struct {
    const WCHAR* shortName;
    const WCHAR* longName;
    HKEY key;
  } roots[] = {
      {WSTR("HKCR"), WSTR("HKEY_CLASSES_ROOT"), HKEY_CLASSES_ROOT},
      {WSTR("HKCU"), WSTR("HKEY_CURRENT_USER"), HKEY_CURRENT_USER},
      {WSTR("HKLM"), WSTR("HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE},
      {WSTR("HKU"), WSTR("HKEY_USERS"), HKEY_USERS},
      {WSTR("HKPD"), WSTR("HKEY_PERFORMANCE_DATA"), HKEY_PERFORMANCE_DATA},
      {WSTR("HKDD"), WSTR("HKEY_DYN_DATA"), HKEY_DYN_DATA},
      {WSTR("HKCC"), WSTR("HKEY_CURRENT_CONFIG"), HKEY_CURRENT_CONFIG},
  };
  for (const auto& r : roots)
    if (token.is(r.shortName) || token.is(r.longName)) return r.key;
  malformed();
}

int hexDigit(WCHAR c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  malformed();
}

// The value after "=": its type letter and text, as the bytes the registry stores.
void readValue(Tokens& tokens, ScriptKey& key) {
  const Token type = tokens.next();
  const WideString text = tokens.next().text;
  if (type.quoted || type.text.size() != 1) malformed();
  key.hasValue = true;
  switch (type.text[0]) {
    case 's': {
      key.type = REG_SZ;
      const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
      key.data.assign(bytes, bytes + (text.size() + 1) * sizeof(WCHAR));
      break;
    }
    case 'd': {
      if (text.empty() || text.size() > 10) malformed();
      unsigned long long number = 0;
      for (WCHAR c : text) {
        if (c < '0' || c > '9') malformed();
        number = number * 10 + static_cast<unsigned>(c - '0');
      }
      if (number > 0xFFFFFFFFull) malformed();
      const DWORD value = static_cast<DWORD>(number);
      key.type = REG_DWORD;
      key.data.assign(reinterpret_cast<const BYTE*>(&value), reinterpret_cast<const BYTE*>(&value) + sizeof value);
      break;
    }
    case 'b':
      if (text.size() % 2 != 0) malformed();
      key.type = REG_BINARY;
      for (size_t i = 0; i < text.size(); i += 2)
        key.data.push_back(static_cast<BYTE>(hexDigit(text[i]) * 16 + hexDigit(text[i + 1])));
      break;
    default:
      malformed();
  }
}

std::vector<ScriptKey> readEntries(Tokens& tokens, int depth);

ScriptKey readEntry(Tokens& tokens, const Token& first, int depth) {
  ScriptKey key;
  Token name = first;
  if (first.is(WSTR("NoRemove")))
    key.kind = KeyKind::NoRemove;
  else if (first.is(WSTR("ForceRemove")))
    key.kind = KeyKind::ForceRemove;
  else if (first.is(WSTR("Val")))
    key.kind = KeyKind::Value;
  else if (first.is(WSTR("Delete")))
    key.kind = KeyKind::Delete;
  if (key.kind != KeyKind::Plain) name = tokens.next();
  if (!name.quoted && (name.text == WSTR("{") || name.text == WSTR("}") || name.text == WSTR("="))) malformed();
  key.name = name.text;
  if (key.kind == KeyKind::Delete) return key;
  if (tokens.accept(WSTR("=")))
    readValue(tokens, key);
  else if (key.kind == KeyKind::Value)
    malformed();  // a named value needs one
  if (key.kind != KeyKind::Value && tokens.accept(WSTR("{"))) key.children = readEntries(tokens, depth + 1);
  return key;
}

// Entries up to and including the closing brace of their block.
std::vector<ScriptKey> readEntries(Tokens& tokens, int depth) {
  if (depth > kMaximumDepth) malformed();
  std::vector<ScriptKey> entries;
  for (Token token = tokens.next(); !token.is(WSTR("}")); token = tokens.next())
    entries.push_back(readEntry(tokens, token, depth));
  return entries;
}

std::vector<ScriptRoot> readScript(const WideString& text) {
  Tokens tokens(text);
  std::vector<ScriptRoot> roots;
  while (!tokens.atEnd()) {
    ScriptRoot root{rootKey(tokens.next()), {}};
    if (!tokens.next().is(WSTR("{"))) malformed();
    root.keys = readEntries(tokens, 1);
    roots.push_back(std::move(root));
  }
  return roots;
}

// ---- Writing and removing ------------------------------------------------------------

using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)>;

void check(LSTATUS status) {
  if (status != ERROR_SUCCESS) throw ScriptFailure{HRESULT_FROM_WIN32(status)};
}

// Deleting what is not there is no failure.
void checkRemoved(LSTATUS status) {
  if (status != ERROR_FILE_NOT_FOUND) check(status);
}

void registerKey(HKEY parent, const ScriptKey& key) {
  switch (key.kind) {
    case KeyKind::Delete:
      checkRemoved(RegDeleteTreeW(parent, key.name.c_str()));
      return;
    case KeyKind::Value:
      check(
          RegSetValueExW(parent, key.name.c_str(), 0, key.type, key.data.data(), static_cast<DWORD>(key.data.size())));
      return;
    case KeyKind::ForceRemove:
      checkRemoved(RegDeleteTreeW(parent, key.name.c_str()));
      break;
    default:
      break;
  }
  HKEY opened = nullptr;
  check(RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                        &opened, nullptr));
  KeyHandle handle(opened, &RegCloseKey);
  if (key.hasValue)
    check(RegSetValueExW(opened, nullptr, 0, key.type, key.data.data(), static_cast<DWORD>(key.data.size())));
  for (const ScriptKey& child : key.children) registerKey(opened, child);
}

bool hasSubkeys(HKEY key) {
  WCHAR name[256];
  DWORD length = 256;
  return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS;
}

// Removes what a key names, going on past failures; the first one is kept in firstFailure.
void unregisterKey(HKEY parent, const ScriptKey& key, HRESULT& firstFailure) {
  try {
    switch (key.kind) {
      case KeyKind::Delete:
        return;
      case KeyKind::Value:
        checkRemoved(RegDeleteValueW(parent, key.name.c_str()));
        return;
      case KeyKind::ForceRemove:
        checkRemoved(RegDeleteTreeW(parent, key.name.c_str()));
        return;
      default:
        break;
    }
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return;
    check(status);
    KeyHandle handle(opened, &RegCloseKey);
    for (const ScriptKey& child : key.children) unregisterKey(opened, child, firstFailure);
    // A key that still holds keys of others stays.
    const bool keep = key.kind == KeyKind::NoRemove || hasSubkeys(opened);
    handle.reset();
    if (!keep) checkRemoved(RegDeleteKeyW(parent, key.name.c_str()));
  } catch (const ScriptFailure& failure) {
    if (SUCCEEDED(firstFailure)) firstFailure = failure.code;
  } catch (const std::bad_alloc&) {
    if (SUCCEEDED(firstFailure)) firstFailure = E_OUTOFMEMORY;
  }
}

HRESULT unregisterScript(const std::vector<ScriptRoot>& roots) {
  HRESULT result = S_OK;
  for (const ScriptRoot& root : roots)
    for (const ScriptKey& key : root.keys) unregisterKey(root.root, key, result);
  return result;
}

}  // namespace

HRESULT runRegistryScript(const WideString& text, const Replacements& replacements, bool registering) noexcept {
  std::vector<ScriptRoot> roots;
  try {
    roots = readScript(expandReplacements(text, replacements));
  } catch (const ScriptFailure& failure) {
    return failure.code;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!registering) return unregisterScript(roots);
  try {
    for (const ScriptRoot& root : roots)
      for (const ScriptKey& key : root.keys) registerKey(root.root, key);
    return S_OK;
  } catch (const ScriptFailure& failure) {
    unregisterScript(roots);
    return failure.code;
  } catch (const std::bad_alloc&) {
    unregisterScript(roots);
    return E_OUTOFMEMORY;
  }
}

}  // namespace Tellvane
