#include "oleaut32/typelibdata.h"

#include <cstring>

namespace tv::typelib {

namespace {

class Writer {
 public:
  void u8(uint8_t v) { bytes_ += static_cast<char>(v); }
  void u16(uint16_t v) { u8(v & 0xFF), u8(v >> 8); }
  void u32(uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); }
  void text(const std::string& s) {
    u32(static_cast<uint32_t>(s.size()));
    bytes_ += s;
  }
  void guid(const Guid& g) {
    u32(g.data1), u16(g.data2), u16(g.data3);
    for (uint8_t b : g.data4) u8(b);
  }
  void type(const TypeRef& t) { u16(t.vt), u8(t.pointers), text(t.userType); }
  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class Reader {
 public:
  Reader(const void* data, size_t size) : at_(static_cast<const uint8_t*>(data)), left_(size) {}
  uint8_t u8() {
    need(1);
    --left_;
    return *at_++;
  }
  uint16_t u16() {
    const uint16_t low = u8();
    return static_cast<uint16_t>(low | (u8() << 8));
  }
  uint32_t u32() {
    const uint32_t low = u16();
    return low | (static_cast<uint32_t>(u16()) << 16);
  }
  std::string text() {
    const uint32_t length = u32();
    need(length);
    std::string s(reinterpret_cast<const char*>(at_), length);
    at_ += length, left_ -= length;
    return s;
  }
  Guid guid() {
    Guid g;
    g.data1 = u32(), g.data2 = u16(), g.data3 = u16();
    for (uint8_t& b : g.data4) b = u8();
    return g;
  }
  TypeRef type() {
    TypeRef t;
    t.vt = u16(), t.pointers = u8(), t.userType = text();
    return t;
  }
  void magic() {
    need(sizeof kMagic);
    if (std::memcmp(at_, kMagic, sizeof kMagic) != 0) throw std::runtime_error("not a compact type library");
    at_ += sizeof kMagic, left_ -= sizeof kMagic;
  }
  bool atEnd() const { return left_ == 0; }

 private:
  void need(size_t n) const {
    if (n > left_) throw std::runtime_error("truncated type library");
  }
  const uint8_t* at_;
  size_t left_;
};

}  // namespace

std::string serialize(const Library& lib) {
  Writer w;
  for (char c : kMagic) w.u8(static_cast<uint8_t>(c));
  w.u32(kFormatVersion);
  w.guid(lib.guid), w.u16(lib.major), w.u16(lib.minor), w.u32(lib.lcid), w.u32(lib.syskind), w.u16(lib.flags);
  w.text(lib.name), w.text(lib.help);
  w.u32(static_cast<uint32_t>(lib.types.size()));
  for (const Type& t : lib.types) {
    w.u16(t.kind), w.guid(t.guid), w.u16(t.flags), w.u16(t.major), w.u16(t.minor);
    w.text(t.name), w.text(t.help), w.text(t.base);
    w.u32(static_cast<uint32_t>(t.implemented.size()));
    for (const Implemented& i : t.implemented) w.text(i.name), w.u32(static_cast<uint32_t>(i.flags));
    w.u32(static_cast<uint32_t>(t.functions.size()));
    for (const Function& f : t.functions) {
      w.u32(static_cast<uint32_t>(f.id)), w.u16(f.invokeKind), w.u16(f.flags);
      w.text(f.name), w.text(f.help), w.type(f.result);
      w.u32(static_cast<uint32_t>(f.params.size()));
      for (const Param& p : f.params) w.text(p.name), w.u16(p.flags), w.type(p.type);
    }
  }
  return w.take();
}

Library parse(const void* data, size_t size) {
  Reader r(data, size);
  r.magic();
  if (r.u32() != kFormatVersion) throw std::runtime_error("unsupported type library version");
  Library lib;
  lib.guid = r.guid(), lib.major = r.u16(), lib.minor = r.u16(), lib.lcid = r.u32(), lib.syskind = r.u32();
  lib.flags = r.u16();
  lib.name = r.text(), lib.help = r.text();
  // Counts are not trusted: elements are read one by one and a count beyond
  // the data ends in a truncation error, never in a large allocation.
  for (uint32_t n = r.u32(); n > 0; --n) {
    Type t;
    t.kind = r.u16(), t.guid = r.guid(), t.flags = r.u16(), t.major = r.u16(), t.minor = r.u16();
    t.name = r.text(), t.help = r.text(), t.base = r.text();
    for (uint32_t i = r.u32(); i > 0; --i) {
      Implemented impl;
      impl.name = r.text(), impl.flags = static_cast<int32_t>(r.u32());
      t.implemented.push_back(std::move(impl));
    }
    for (uint32_t i = r.u32(); i > 0; --i) {
      Function f;
      f.id = static_cast<int32_t>(r.u32()), f.invokeKind = r.u16(), f.flags = r.u16();
      f.name = r.text(), f.help = r.text(), f.result = r.type();
      for (uint32_t k = r.u32(); k > 0; --k) {
        Param p;
        p.name = r.text(), p.flags = r.u16(), p.type = r.type();
        f.params.push_back(std::move(p));
      }
      t.functions.push_back(std::move(f));
    }
    lib.types.push_back(std::move(t));
  }
  if (!r.atEnd()) throw std::runtime_error("trailing bytes after the type library");
  return lib;
}

}  // namespace tv::typelib
