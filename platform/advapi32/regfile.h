// One registry hive in memory, and its text form: the .reg format that
// regedit exports ("Windows Registry Editor Version 5.00"), kept as UTF-8
// with CRLF line ends. Key and value names compare without regard to case
// and keep the case they were created with.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tv {

// Upper case for comparing registry names, as Windows compares them.
std::u16string registryFold(const std::u16string& name);

// Windows keeps keys at most 512 levels below a hive's root, each name at
// most 255 characters.
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyName = 255;

// Whether a key or value name can be kept in the hive's text: no NUL, line
// break or lone surrogate.
bool isStorableName(const std::u16string& name);

struct RegValue {
  std::u16string name;  // empty: the key's default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

class RegKey {
 public:
  explicit RegKey(std::u16string name) : name_(std::move(name)) {}
  // Takes down the keys below one by one, so that no depth of keys can
  // exhaust the stack.
  ~RegKey();
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  const std::u16string& name() const { return name_; }

  const RegKey* child(const std::u16string& name) const;
  RegKey* child(const std::u16string& name);
  // The child of that name, made when missing; `created` tells which.
  RegKey& makeChild(const std::u16string& name, bool* created = nullptr);
  bool removeChild(const std::u16string& name);
  void removeAllChildren() { children_.clear(); }
  // Children in Windows' order: by their names in upper case.
  std::vector<const RegKey*> children() const;
  bool hasChildren() const { return !children_.empty(); }

  const RegValue* value(const std::u16string& name) const;
  void setValue(RegValue value);
  bool removeValue(const std::u16string& name);
  void removeAllValues() { values_.clear(); }
  const std::vector<RegValue>& values() const { return values_; }

 private:
  std::u16string name_;
  std::vector<RegValue> values_;  // in the order they were first set
  std::map<std::u16string, std::unique_ptr<RegKey>> children_;  // by folded name
};

// The key at a path of names below a key, or null.
const RegKey* findKey(const RegKey& from, const std::vector<std::u16string>& path);
RegKey* findKey(RegKey& from, const std::vector<std::u16string>& path);

// Parses the text of a hive whose keys are all under rootName (for example
// "HKEY_LOCAL_MACHINE"). Text that does not parse fails with ERROR_BADDB:
// text that is neither UTF-8 nor UTF-16 with its byte-order mark, a key
// deeper than kMaxKeyDepth, or a name that the API would refuse.
std::unique_ptr<RegKey> parseRegFile(const std::string& text, const std::u16string& rootName);

// The text of a hive, as regedit would export it (UTF-8). A key with
// subkeys but no values gets no line of its own (its subkeys' lines make
// it), so a chain of empty keys costs one line, not one per level.
std::string formatRegFile(const RegKey& root);

}  // namespace tv
