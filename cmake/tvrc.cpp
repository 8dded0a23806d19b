// The resource compiler of the Linux build: turns a module's resource list
// into a C++ source that holds every resource's bytes and one table, the
// exported symbol tellvane_module_resources_v1, which the stand-in's
// FindResourceW finds with dlsym on the module's handle.
//
//   tvrc <resource-list> <folder of relative files> <output.cpp>
//
// A resource list has one resource per line; '#' starts a comment:
//   TYPE ID FILE        TYPE is a number, an RT_ name (RT_STRING = 6,
//                       RT_VERSION = 16, RT_MANIFEST = 24, ...) or any other
//                       name (REGISTRY, TYPELIB); ID is a number or a name.
//   STRING ID "text"    one string of the string table (UTF-8 text, escapes
//                       \" \\ \n \t); gathered into RT_STRING blocks the way
//                       a Windows resource compiler does: block ID/16 + 1,
//                       sixteen counted UTF-16 strings each.
//   VERSIONINFO ID FILE the version resource (RT_VERSION) made from a text
//                       file of "Name = value" lines: FileVersion and
//                       ProductVersion (dotted numbers, also the fixed
//                       fields), then any strings (FileDescription,
//                       InternalName, ...), for US English, Unicode.
// Names compare without regard to case in Windows, so they are stored in
// upper case, as a Windows resource compiler stores them.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Key {
  std::string name;  // empty when id is used
  uint32_t id = 0;
  bool operator<(const Key& other) const {
    if (name.empty() != other.name.empty()) return name.empty();  // numbers first
    return name.empty() ? id < other.id : name < other.name;
  }
};

struct Resource {
  Key type;
  Key name;
  std::vector<unsigned char> bytes;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw std::runtime_error(where + ": " + what);
}

std::vector<unsigned char> readFile(const std::string& path, const std::string& where) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(where, "cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::u16string utf16(const std::string& text, const std::string& where) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || (extra > 0 && i + extra >= text.size())) fail(where, "text is not UTF-8");
    uint32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) fail(where, "text is not UTF-8");
      cp = (cp << 6) | (next & 0x3F);
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

bool isNumber(const std::string& s) {
  if (s.empty() || s.size() > 5) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return std::stoul(s) <= 0xFFFF;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

Key parseKey(const std::string& word, const std::string& where) {
  if (isNumber(word)) return Key{"", static_cast<uint32_t>(std::stoul(word))};
  if (std::isdigit(static_cast<unsigned char>(word[0]))) fail(where, "bad identifier " + word);
  return Key{upper(word), 0};
}

Key parseType(const std::string& word, const std::string& where) {
  static const std::map<std::string, uint32_t> known = {
      {"RT_CURSOR", 1}, {"RT_BITMAP", 2}, {"RT_ICON", 3},      {"RT_MENU", 4},
      {"RT_DIALOG", 5}, {"RT_STRING", 6}, {"RT_RCDATA", 10},   {"RT_GROUP_CURSOR", 12},
      {"RT_GROUP_ICON", 14}, {"RT_VERSION", 16}, {"RT_MANIFEST", 24}};
  auto it = known.find(upper(word));
  if (it != known.end()) return Key{"", it->second};
  return parseKey(word, where);
}

std::string unquote(const std::string& rest, const std::string& where) {
  if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') fail(where, "string must be in double quotes");
  std::string out;
  for (size_t i = 1; i + 1 < rest.size(); ++i) {
    char c = rest[i];
    if (c == '\\') {
      if (i + 2 >= rest.size()) fail(where, "dangling escape");
      char e = rest[++i];
      out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      if (e != 'n' && e != 't' && e != 'r' && e != '"' && e != '\\') fail(where, "unknown escape");
    } else {
      out += c;
    }
  }
  return out;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// ---- Version resource ---------------------------------------------------------
// VS_VERSIONINFO: nested blocks, each a WORD length (of the whole block), a
// WORD value length, a WORD type (1 text, 0 binary), a UTF-16 key with its
// zero, padding to 32 bits, the value, padding, then the child blocks.

class VersionBlock {
 public:
  VersionBlock(const std::u16string& key, bool text) : key_(key), text_(text) {}

  void setValue(std::vector<unsigned char> bytes, uint16_t length) {
    value_ = std::move(bytes);
    valueLength_ = length;
  }
  VersionBlock& add(VersionBlock child) {
    children_.push_back(std::move(child));
    return children_.back();
  }

  std::vector<unsigned char> bytes() const {
    std::vector<unsigned char> out(6);
    for (char16_t c : key_ + u'\0') put16(out, c);
    pad(out);
    out.insert(out.end(), value_.begin(), value_.end());
    for (const VersionBlock& child : children_) {
      pad(out);
      std::vector<unsigned char> inner = child.bytes();
      out.insert(out.end(), inner.begin(), inner.end());
    }
    if (out.size() > 0xFFFF) throw std::runtime_error("version resource too long");
    set16(out, 0, static_cast<uint16_t>(out.size()));
    set16(out, 2, valueLength_);
    set16(out, 4, text_ ? 1 : 0);
    return out;
  }

  static void put16(std::vector<unsigned char>& out, uint32_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
  }
  static void put32(std::vector<unsigned char>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
  }

 private:
  static void pad(std::vector<unsigned char>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
  }
  static void set16(std::vector<unsigned char>& out, size_t at, uint16_t v) {
    out[at] = static_cast<unsigned char>(v & 0xFF);
    out[at + 1] = static_cast<unsigned char>(v >> 8);
  }

  std::u16string key_;
  bool text_;
  std::vector<unsigned char> value_;
  uint16_t valueLength_ = 0;
  std::vector<VersionBlock> children_;
};

// "1.0.0.1" as the two DWORDs of a fixed version field.
std::pair<uint32_t, uint32_t> versionNumbers(const std::string& text, const std::string& where) {
  uint32_t parts[4] = {0, 0, 0, 0};
  std::istringstream in(text);
  std::string part;
  int count = 0;
  while (std::getline(in, part, '.')) {
    if (count == 4 || !isNumber(part)) fail(where, "a version is up to four numbers of 0-65535: " + text);
    parts[count++] = static_cast<uint32_t>(std::stoul(part));
  }
  if (count == 0) fail(where, "empty version");
  return {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

std::vector<unsigned char> versionResource(const std::string& path, const std::string& where) {
  std::ifstream in(path);
  if (!in) fail(where, "cannot read " + path);
  std::vector<std::pair<std::string, std::string>> strings;
  std::pair<uint32_t, uint32_t> fileVersion{0, 0}, productVersion{0, 0};
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string at = path + ":" + std::to_string(number);
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) fail(at, "expected Name = value");
    std::string name = trim(line.substr(0, equals));
    std::string value = trim(line.substr(equals + 1));
    if (name == "FileVersion") fileVersion = versionNumbers(value, at);
    if (name == "ProductVersion") productVersion = versionNumbers(value, at);
    strings.emplace_back(name, value);
  }
  std::vector<unsigned char> fixed;
  for (uint32_t v : {0xFEEF04BDu, 0x00010000u, fileVersion.first, fileVersion.second, productVersion.first,
                     productVersion.second, 0x3Fu, 0u, 0x00040004u /* VOS_NT_WINDOWS32 */, 2u /* VFT_DLL */, 0u, 0u,
                     0u})
    VersionBlock::put32(fixed, v);
  VersionBlock root(u"VS_VERSION_INFO", false);
  root.setValue(fixed, static_cast<uint16_t>(fixed.size()));
  VersionBlock& table = root.add(VersionBlock(u"StringFileInfo", true)).add(VersionBlock(u"040904B0", true));
  for (const auto& [name, value] : strings) {
    std::u16string text = utf16(value, where) + u'\0';
    std::vector<unsigned char> bytes;
    for (char16_t c : text) VersionBlock::put16(bytes, c);
    VersionBlock entry(utf16(name, where), true);
    entry.setValue(bytes, static_cast<uint16_t>(text.size()));  // counted in characters
    table.add(std::move(entry));
  }
  VersionBlock translation(u"Translation", false);
  std::vector<unsigned char> language;
  VersionBlock::put16(language, 0x0409);
  VersionBlock::put16(language, 1200);
  translation.setValue(language, 4);
  root.add(VersionBlock(u"VarFileInfo", true)).add(std::move(translation));
  return root.bytes();
}

std::vector<Resource> parseList(const std::string& listPath, const std::string& folder) {
  std::ifstream in(listPath);
  if (!in) fail(listPath, "cannot read");
  std::vector<Resource> resources;
  std::map<uint32_t, std::u16string> strings;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string where = listPath + ":" + std::to_string(number);
    if (size_t hash = line.find('#'); hash != std::string::npos && line.find('"') > hash) line.erase(hash);
    std::istringstream words(line);
    std::string type, id;
    if (!(words >> type)) continue;
    if (!(words >> id)) fail(where, "missing identifier");
    std::string rest;
    std::getline(words, rest);
    rest = trim(rest);
    if (upper(type) == "STRING") {
      if (!isNumber(id)) fail(where, "a string's identifier is a number");
      if (!strings.emplace(std::stoul(id), utf16(unquote(rest, where), where)).second)
        fail(where, "string " + id + " given twice");
      continue;
    }
    if (rest.empty()) fail(where, "missing file");
    std::string path = rest.front() == '/' ? rest : folder + "/" + rest;
    if (upper(type) == "VERSIONINFO")
      resources.push_back({Key{"", 16}, parseKey(id, where), versionResource(path, where)});
    else
      resources.push_back({parseType(type, where), parseKey(id, where), readFile(path, where)});
  }
  // String tables: block n holds the strings n*16-16 .. n*16-1, each as a
  // 16-bit length and that many UTF-16 units (an absent string has length 0).
  std::map<uint32_t, std::vector<std::u16string>> blocks;
  for (const auto& [id, text] : strings) {
    auto& block = blocks[id / 16 + 1];
    block.resize(16);
    if (text.size() > 0xFFFF) fail(listPath, "string too long");
    block[id % 16] = text;
  }
  for (const auto& [blockId, block] : blocks) {
    Resource r{Key{"", 6}, Key{"", blockId}, {}};
    for (const auto& text : block) {
      auto put = [&](char16_t u) {
        r.bytes.push_back(static_cast<unsigned char>(u & 0xFF));
        r.bytes.push_back(static_cast<unsigned char>(u >> 8));
      };
      put(static_cast<char16_t>(text.size()));
      for (char16_t u : text) put(u);
    }
    resources.push_back(std::move(r));
  }
  for (size_t i = 0; i < resources.size(); ++i)
    for (size_t j = i + 1; j < resources.size(); ++j)
      if (!(resources[i].type < resources[j].type) && !(resources[j].type < resources[i].type) &&
          !(resources[i].name < resources[j].name) && !(resources[j].name < resources[i].name))
        fail(listPath, "a resource is given twice");
  return resources;
}

std::string literal(const std::string& ascii) {
  std::string out = "u\"";
  for (char c : ascii) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void writeSource(const std::vector<Resource>& resources, const std::string& outPath) {
  std::ostringstream out;
  out << "// Generated by tvrc from the module's resource list; do not edit.\n"
         "#include <stdint.h>\n\n"
         "namespace {\n\n"
         "struct Entry {\n"
         "  const char16_t* typeName;\n"
         "  uint32_t typeId;\n"
         "  const char16_t* name;\n"
         "  uint32_t id;\n"
         "  const unsigned char* data;\n"
         "  uint32_t size;\n"
         "};\n\n"
         "struct Table {\n"
         "  uint32_t version;\n"
         "  uint32_t count;\n"
         "  const Entry* entries;\n"
         "};\n\n";
  for (size_t i = 0; i < resources.size(); ++i) {
    const auto& bytes = resources[i].bytes;
    // One spare zero byte: a text resource can then be read as a C string.
    out << "alignas(8) const unsigned char data" << i << "[" << bytes.size() + 1 << "] = {";
    for (size_t k = 0; k < bytes.size(); ++k) {
      if (k % 16 == 0) out << "\n   ";
      char hex[8];
      std::snprintf(hex, sizeof hex, " 0x%02x,", bytes[k]);
      out << hex;
    }
    out << "\n    0x00};\n";
  }
  out << "\nconst Entry entries[] = {\n";
  for (size_t i = 0; i < resources.size(); ++i) {
    const auto& r = resources[i];
    out << "    {" << (r.type.name.empty() ? "nullptr" : literal(r.type.name)) << ", " << r.type.id << ", "
        << (r.name.name.empty() ? "nullptr" : literal(r.name.name)) << ", " << r.name.id << ", data" << i << ", "
        << r.bytes.size() << "},\n";
  }
  if (resources.empty()) out << "    {nullptr, 0, nullptr, 0, nullptr, 0},\n";
  out << "};\n\n}  // namespace\n\n"
         "extern \"C\" __attribute__((visibility(\"default\"), used))\n"
         "const Table tellvane_module_resources_v1 = {1, "
      << resources.size() << ", entries};\n";
  std::ofstream file(outPath, std::ios::binary | std::ios::trunc);
  file << out.str();
  if (!file) fail(outPath, "cannot write");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: tvrc <resource-list> <folder> <output.cpp>\n";
    return 2;
  }
  try {
    writeSource(parseList(argv[1], argv[2]), argv[3]);
  } catch (const std::exception& e) {
    std::cerr << "tvrc: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
