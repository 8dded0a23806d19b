#include "idlparser.h"

#include <oaidl.h>

#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

namespace typelibgen {

namespace {

using tv::typelib::Function;
using tv::typelib::Guid;
using tv::typelib::Library;
using tv::typelib::Param;
using tv::typelib::Type;
using tv::typelib::TypeRef;

struct Token {
  enum Kind { Ident, Number, String, Punct, End } kind;
  std::string text;
  int line;
};

class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text) {}

  Token next() {
    Token t = peek();
    pos_ = peekEnd_;
    line_ = peekLine_;
    return t;
  }

  Token peek() {
    size_t at = pos_;
    int line = line_;
    skipBlanks(at, line);
    Token t{Token::End, "", line};
    if (at < text_.size()) {
      const char c = text_[at];
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        size_t end = at;
        while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_')) ++end;
        t = {Token::Ident, text_.substr(at, end - at), line};
        at = end;
      } else if (std::isdigit(static_cast<unsigned char>(c)) || (c == '-' && at + 1 < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at + 1])))) {
        size_t end = at + 1;
        while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '.')) ++end;
        t = {Token::Number, text_.substr(at, end - at), line};
        at = end;
      } else if (c == '"') {
        std::string value;
        size_t end = at + 1;
        for (; end < text_.size() && text_[end] != '"'; ++end) {
          if (text_[end] == '\n') fail(line, "unterminated string");
          if (text_[end] == '\\' && end + 1 < text_.size()) ++end;
          value += text_[end];
        }
        if (end >= text_.size()) fail(line, "unterminated string");
        t = {Token::String, value, line};
        at = end + 1;
      } else {
        t = {Token::Punct, std::string(1, c), line};
        at += 1;
      }
    }
    peekEnd_ = at;
    peekLine_ = line;
    return t;
  }

  // The raw text up to the next ')' (a uuid is not made of tokens).
  std::string rawUntilParen() {
    const size_t end = text_.find(')', pos_);
    if (end == std::string::npos) fail(line_, "missing ')'");
    std::string raw = text_.substr(pos_, end - pos_);
    pos_ = end;
    return raw;
  }

  [[noreturn]] static void fail(int line, const std::string& message) {
    throw std::runtime_error(std::to_string(line) + ": " + message);
  }

 private:
  void skipBlanks(size_t& at, int& line) const {
    while (at < text_.size()) {
      const char c = text_[at];
      if (c == '\n') {
        ++line, ++at;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++at;
      } else if (text_.compare(at, 2, "//") == 0 || (c == '#' && atLineStart(at))) {
        while (at < text_.size() && text_[at] != '\n') ++at;
      } else if (text_.compare(at, 2, "/*") == 0) {
        const size_t end = text_.find("*/", at + 2);
        const size_t stop = end == std::string::npos ? text_.size() : end + 2;
        for (; at < stop; ++at)
          if (text_[at] == '\n') ++line;
      } else {
        break;
      }
    }
  }
  bool atLineStart(size_t at) const {
    while (at > 0 && (text_[at - 1] == ' ' || text_[at - 1] == '\t')) --at;
    return at == 0 || text_[at - 1] == '\n';
  }

  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
  size_t peekEnd_ = 0;
  int peekLine_ = 1;
};

// One attribute list: name -> argument text ("" when it has none).
using Attributes = std::map<std::string, std::string>;

struct ParsedInterface {
  Type type;
  int line;
};

class Parser {
 public:
  explicit Parser(const std::string& text) : lex_(text) {}

  Library parse() {
    bool haveLibrary = false;
    while (lex_.peek().kind != Token::End) {
      const Attributes attrs = attributes();
      const Token word = expectIdent();
      if (word.text == "import") {
        skipTo(";");
      } else if (word.text == "cpp_quote") {
        expect("(");
        expectKind(Token::String);
        expect(")");
      } else if (word.text == "interface") {
        interface(attrs, word.line, false);
      } else if (word.text == "coclass") {
        coclass(attrs, false);
      } else if (word.text == "library") {
        if (haveLibrary) Lexer::fail(word.line, "a second library block");
        haveLibrary = true;
        library(attrs);
      } else {
        Lexer::fail(word.line, "'" + word.text + "' is outside the supported IDL subset");
      }
    }
    if (!haveLibrary) Lexer::fail(1, "no library block");
    return lib_;
  }

 private:
  Token expectIdent() { return expectKind(Token::Ident); }
  Token expectKind(Token::Kind kind) {
    Token t = lex_.next();
    if (t.kind != kind) Lexer::fail(t.line, "unexpected '" + t.text + "'");
    return t;
  }
  void expect(const char* punct) {
    Token t = lex_.next();
    if (t.kind != Token::Punct || t.text != punct)
      Lexer::fail(t.line, std::string("expected '") + punct + "' before '" + t.text + "'");
  }
  bool accept(const char* punct) {
    const Token t = lex_.peek();
    if (t.kind == Token::Punct && t.text == punct) {
      lex_.next();
      return true;
    }
    return false;
  }
  void skipTo(const char* punct) {
    for (Token t = lex_.next(); !(t.kind == Token::Punct && t.text == punct); t = lex_.next())
      if (t.kind == Token::End) Lexer::fail(t.line, std::string("missing '") + punct + "'");
  }

  Attributes attributes() {
    Attributes attrs;
    if (!accept("[")) return attrs;
    do {
      if (lex_.peek().text == "]") break;  // a trailing comma
      const Token name = expectIdent();
      std::string value;
      if (accept("(")) {
        if (name.text == "uuid") {
          value = lex_.rawUntilParen();
        } else {
          for (Token t = lex_.peek(); !(t.kind == Token::Punct && t.text == ")"); t = lex_.peek()) {
            if (t.kind == Token::End) Lexer::fail(t.line, "missing ')'");
            value += lex_.next().text;
          }
        }
        expect(")");
      }
      attrs[name.text] = value;
    } while (accept(","));
    expect("]");
    return attrs;
  }

  static Guid uuid(const Attributes& attrs, int line) {
    const auto it = attrs.find("uuid");
    if (it == attrs.end()) Lexer::fail(line, "missing uuid");
    std::string text;
    for (char c : it->second)
      if (!std::isspace(static_cast<unsigned char>(c)) && c != '"') text += c;
    static const char kPattern[] = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
    if (text.size() != 36) Lexer::fail(line, "malformed uuid " + text);
    uint8_t bytes[16];
    size_t n = 0;
    for (size_t i = 0; i < 36; ++i) {
      if (kPattern[i] == '-') {
        if (text[i] != '-') Lexer::fail(line, "malformed uuid " + text);
        continue;
      }
      if (!std::isxdigit(static_cast<unsigned char>(text[i])) || !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
        Lexer::fail(line, "malformed uuid " + text);
      bytes[n++] = static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16));
      ++i;
    }
    Guid g;
    g.data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    g.data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    g.data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int k = 0; k < 8; ++k) g.data4[k] = bytes[8 + k];
    return g;
  }

  static void version(const Attributes& attrs, uint16_t& major, uint16_t& minor, int line) {
    const auto it = attrs.find("version");
    if (it == attrs.end()) return;
    const size_t dot = it->second.find('.');
    try {
      major = static_cast<uint16_t>(std::stoul(it->second.substr(0, dot)));
      minor = dot == std::string::npos ? 0 : static_cast<uint16_t>(std::stoul(it->second.substr(dot + 1)));
    } catch (const std::exception&) {
      Lexer::fail(line, "malformed version " + it->second);
    }
  }

  static std::string text(const Attributes& attrs, const char* name) {
    const auto it = attrs.find(name);
    return it != attrs.end() ? it->second : "";
  }

  // A type: words (const and unsigned/signed modifiers among them) and stars.
  TypeRef typeRef(int line, std::vector<std::string> words, int pointers) {
    std::string name;
    for (const std::string& w : words) {
      if (w == "const") continue;
      name += name.empty() ? w : " " + w;
    }
    static const std::map<std::string, VARTYPE> kBase = {
        {"BSTR", VT_BSTR}, {"long", VT_I4}, {"LONG", VT_I4}, {"int", VT_INT}, {"INT", VT_INT},
        {"short", VT_I2}, {"SHORT", VT_I2}, {"unsigned long", VT_UI4}, {"ULONG", VT_UI4}, {"DWORD", VT_UI4},
        {"unsigned short", VT_UI2}, {"USHORT", VT_UI2}, {"WORD", VT_UI2}, {"unsigned int", VT_UINT},
        {"UINT", VT_UINT}, {"char", VT_I1}, {"CHAR", VT_I1}, {"unsigned char", VT_UI1}, {"BYTE", VT_UI1},
        {"byte", VT_UI1}, {"double", VT_R8}, {"DOUBLE", VT_R8}, {"float", VT_R4}, {"FLOAT", VT_R4},
        {"VARIANT_BOOL", VT_BOOL}, {"VARIANT", VT_VARIANT}, {"HRESULT", VT_HRESULT}, {"void", VT_VOID},
        {"hyper", VT_I8}, {"LONGLONG", VT_I8}, {"DATE", VT_DATE}, {"SCODE", VT_ERROR}, {"LPWSTR", VT_LPWSTR},
        {"LPSTR", VT_LPSTR}};
    TypeRef t;
    t.pointers = static_cast<uint8_t>(pointers);
    if (const auto it = kBase.find(name); it != kBase.end()) {
      t.vt = it->second;
    } else if ((name == "IDispatch" || name == "IUnknown") && pointers > 0) {
      t.vt = name == "IDispatch" ? VT_DISPATCH : VT_UNKNOWN;
      t.pointers = static_cast<uint8_t>(pointers - 1);
    } else if (name == "REFIID" || name == "REFGUID" || name == "REFCLSID" || name == "GUID" || name == "IID" ||
               name == "CLSID") {
      t.vt = VT_USERDEFINED;
      t.userType = "GUID";
      if (name.rfind("REF", 0) == 0) ++t.pointers;
    } else if (interfaces_.count(name)) {
      t.vt = VT_USERDEFINED;
      t.userType = name;
    } else {
      Lexer::fail(line, "unknown type '" + name + "'");
    }
    return t;
  }

  // Reads "type name" up to the given terminators; the last word is the name.
  std::pair<TypeRef, std::string> declaration(int line) {
    std::vector<std::string> words;
    int pointers = 0;
    for (Token t = lex_.peek(); t.kind == Token::Ident || (t.kind == Token::Punct && t.text == "*"); t = lex_.peek()) {
      lex_.next();
      if (t.kind == Token::Ident) {
        if (pointers > 0) {
          words.push_back(t.text);
          break;
        }
        words.push_back(t.text);
      } else {
        ++pointers;
      }
    }
    if (words.size() < 2) Lexer::fail(line, "expected a type and a name");
    const std::string name = words.back();
    words.pop_back();
    return {typeRef(line, words, pointers), name};
  }

  void interface(const Attributes& attrs, int line, bool inLibrary) {
    const Token name = expectIdent();
    if (accept(";")) {  // a reference: the library holds that interface
      if (inLibrary) include(name.text, name.line);
      return;
    }
    Type type;
    type.kind = TKIND_INTERFACE;
    type.name = name.text;
    type.guid = uuid(attrs, line);
    type.help = text(attrs, "helpstring");
    version(attrs, type.major, type.minor, line);
    type.base = "IUnknown";
    if (accept(":")) type.base = expectIdent().text;
    if (type.base != "IUnknown" && type.base != "IDispatch" && !interfaces_.count(type.base))
      Lexer::fail(name.line, "unknown base interface " + type.base);
    if (attrs.count("dual")) type.flags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
    if (attrs.count("oleautomation")) type.flags |= TYPEFLAG_FOLEAUTOMATION;
    if (attrs.count("nonextensible")) type.flags |= TYPEFLAG_FNONEXTENSIBLE;
    if (attrs.count("hidden")) type.flags |= TYPEFLAG_FHIDDEN;
    if (attrs.count("restricted")) type.flags |= TYPEFLAG_FRESTRICTED;
    if (derivesFromDispatch(type.base)) type.flags |= TYPEFLAG_FDISPATCHABLE;
    interfaces_[type.name] = type;  // visible to its own methods' parameter types
    expect("{");
    const int32_t autoBase = derivesFromDispatch(type.base) ? 0x60020000 : 0x60000000;
    while (!accept("}")) type.functions.push_back(method(autoBase + static_cast<int32_t>(type.functions.size())));
    accept(";");
    interfaces_[type.name] = type;
    order_.push_back(type.name);
    if (inLibrary) include(type.name, name.line);
  }

  bool derivesFromDispatch(const std::string& base) const {
    if (base == "IDispatch") return true;
    const auto it = interfaces_.find(base);
    return it != interfaces_.end() && derivesFromDispatch(it->second.base);
  }

  Function method(int32_t autoId) {
    const Token start = lex_.peek();
    const Attributes attrs = attributes();
    auto [result, name] = declaration(start.line);
    Function f;
    f.name = name;
    f.result = result;
    f.help = text(attrs, "helpstring");
    f.id = autoId;
    if (attrs.count("id")) {
      try {
        f.id = static_cast<int32_t>(std::stoll(attrs.at("id"), nullptr, 0));
      } catch (const std::exception&) {
        Lexer::fail(start.line, "malformed id " + attrs.at("id"));
      }
    }
    if (attrs.count("propget")) f.invokeKind = INVOKE_PROPERTYGET;
    if (attrs.count("propput")) f.invokeKind = INVOKE_PROPERTYPUT;
    if (attrs.count("propputref")) f.invokeKind = INVOKE_PROPERTYPUTREF;
    if (attrs.count("restricted")) f.flags |= FUNCFLAG_FRESTRICTED;
    if (attrs.count("hidden")) f.flags |= FUNCFLAG_FHIDDEN;
    expect("(");
    if (lex_.peek().text == "void" && !accept(")")) {
      lex_.next();
      expect(")");
    } else if (!accept(")")) {
      do f.params.push_back(parameter());
      while (accept(","));
      expect(")");
    }
    expect(";");
    return f;
  }

  Param parameter() {
    const Token start = lex_.peek();
    const Attributes attrs = attributes();
    auto [type, name] = declaration(start.line);
    Param p;
    p.name = name;
    p.type = type;
    if (attrs.count("in")) p.flags |= PARAMFLAG_FIN;
    if (attrs.count("out")) p.flags |= PARAMFLAG_FOUT;
    if (attrs.count("retval")) p.flags |= PARAMFLAG_FRETVAL;
    if (attrs.count("optional")) p.flags |= PARAMFLAG_FOPT;
    if (attrs.count("lcid")) p.flags |= PARAMFLAG_FLCID;
    if (attrs.count("defaultvalue")) Lexer::fail(start.line, "defaultvalue is outside the supported subset");
    if (!(p.flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT))) p.flags |= PARAMFLAG_FIN;
    if ((p.flags & PARAMFLAG_FOUT) && p.type.pointers == 0)
      Lexer::fail(start.line, "an [out] parameter must be a pointer");
    return p;
  }

  void coclass(const Attributes& attrs, bool inLibrary) {
    const Token name = expectIdent();
    Type type;
    type.kind = TKIND_COCLASS;
    type.name = name.text;
    type.guid = uuid(attrs, name.line);
    type.help = text(attrs, "helpstring");
    version(attrs, type.major, type.minor, name.line);
    if (!attrs.count("noncreatable")) type.flags |= TYPEFLAG_FCANCREATE;
    if (attrs.count("appobject")) type.flags |= TYPEFLAG_FAPPOBJECT;
    if (attrs.count("control")) type.flags |= TYPEFLAG_FCONTROL;
    if (attrs.count("hidden")) type.flags |= TYPEFLAG_FHIDDEN;
    expect("{");
    bool haveDefault = false;
    while (!accept("}")) {
      const Attributes implAttrs = attributes();
      const Token keyword = expectIdent();
      if (keyword.text != "interface") Lexer::fail(keyword.line, "expected 'interface'");
      const Token implName = expectIdent();
      expect(";");
      if (!interfaces_.count(implName.text)) Lexer::fail(implName.line, "unknown interface " + implName.text);
      tv::typelib::Implemented impl{implName.text, 0};
      if (implAttrs.count("default")) impl.flags |= IMPLTYPEFLAG_FDEFAULT, haveDefault = true;
      if (implAttrs.count("source")) impl.flags |= IMPLTYPEFLAG_FSOURCE;
      if (implAttrs.count("restricted")) impl.flags |= IMPLTYPEFLAG_FRESTRICTED;
      type.implemented.push_back(impl);
    }
    accept(";");
    // Without [default], the first incoming interface is the default one.
    if (!haveDefault)
      for (auto& impl : type.implemented)
        if (!(impl.flags & IMPLTYPEFLAG_FSOURCE)) {
          impl.flags |= IMPLTYPEFLAG_FDEFAULT;
          break;
        }
    if (!inLibrary) return;
    for (const auto& impl : type.implemented) include(impl.name, name.line);
    lib_.types.push_back(type);
  }

  // Adds an interface defined in the file to the library, its bases first.
  void include(const std::string& name, int line) {
    if (included_.count(name)) return;
    const auto it = interfaces_.find(name);
    if (it == interfaces_.end()) Lexer::fail(line, "unknown interface " + name);
    if (it->second.base != "IUnknown" && it->second.base != "IDispatch") include(it->second.base, line);
    included_.insert(name);
    lib_.types.push_back(it->second);
  }

  void library(const Attributes& attrs) {
    const Token name = expectIdent();
    lib_.name = name.text;
    lib_.guid = uuid(attrs, name.line);
    lib_.help = text(attrs, "helpstring");
    version(attrs, lib_.major, lib_.minor, name.line);
    if (attrs.count("lcid")) lib_.lcid = static_cast<uint32_t>(std::stoul(attrs.at("lcid"), nullptr, 0));
    if (attrs.count("restricted")) lib_.flags |= LIBFLAG_FRESTRICTED;
    if (attrs.count("control")) lib_.flags |= LIBFLAG_FCONTROL;
    if (attrs.count("hidden")) lib_.flags |= LIBFLAG_FHIDDEN;
    expect("{");
    while (!accept("}")) {
      const Attributes inner = attributes();
      const Token word = expectIdent();
      if (word.text == "importlib") {
        expect("(");
        expectKind(Token::String);
        expect(")");
        expect(";");
      } else if (word.text == "interface") {
        interface(inner, word.line, true);
      } else if (word.text == "coclass") {
        coclass(inner, true);
      } else {
        Lexer::fail(word.line, "'" + word.text + "' is outside the supported IDL subset");
      }
    }
    accept(";");
  }

  Lexer lex_;
  Library lib_;
  std::map<std::string, Type> interfaces_;
  std::vector<std::string> order_;
  std::set<std::string> included_;
};

}  // namespace

Library parseIdl(const std::string& text) { return Parser(text).parse(); }

}  // namespace typelibgen
