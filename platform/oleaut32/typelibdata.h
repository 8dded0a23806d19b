// The stand-in's compact type library: what an IDL library block describes
// (identifiers, names, flags, dispatch identifiers, parameters, help strings)
// in a small little-endian binary form. The build writes it from the IDL
// with tools/typelibgen; LoadTypeLib reads it from a module's TYPELIB
// resource. Plain C++, so that the host tool and the runtime share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tv::typelib {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
};

// A parameter or result type: a VARENUM base type behind a number of
// pointers; VT_USERDEFINED names a type (an interface of the library, or GUID).
struct TypeRef {
  uint16_t vt = 0;
  uint8_t pointers = 0;
  std::string userType;
};

struct Param {
  std::string name;
  uint16_t flags = 0;  // PARAMFLAG_*
  TypeRef type;
};

struct Function {
  int32_t id = 0;
  uint16_t invokeKind = 1;  // INVOKEKIND
  uint16_t flags = 0;  // FUNCFLAG_*
  std::string name;
  std::string help;  // UTF-8
  TypeRef result;
  std::vector<Param> params;
};

struct Implemented {
  std::string name;
  int32_t flags = 0;  // IMPLTYPEFLAG_*
};

// An interface (kind TKIND_INTERFACE; a dual one carries TYPEFLAG_FDUAL) or
// a coclass (TKIND_COCLASS).
struct Type {
  uint16_t kind = 0;
  Guid guid;
  uint16_t flags = 0;  // TYPEFLAG_*
  uint16_t major = 0;
  uint16_t minor = 0;
  std::string name;
  std::string help;
  std::string base;  // interfaces: IUnknown, IDispatch or a type of the library
  std::vector<Implemented> implemented;  // coclasses
  std::vector<Function> functions;  // interfaces
};

struct Library {
  Guid guid;
  uint16_t major = 0;
  uint16_t minor = 0;
  uint32_t lcid = 0;
  uint32_t syskind = 0;  // SYSKIND
  uint16_t flags = 0;  // LIBFLAG_*
  std::string name;
  std::string help;
  std::vector<Type> types;
};

// The first bytes of the compact form.
constexpr char kMagic[4] = {'T', 'V', 'T', 'L'};
constexpr uint32_t kFormatVersion = 1;

std::string serialize(const Library& library);
// Reads the compact form; throws std::runtime_error on bytes that do not
// hold one whole library (every length and count is checked).
Library parse(const void* data, size_t size);

}  // namespace tv::typelib
