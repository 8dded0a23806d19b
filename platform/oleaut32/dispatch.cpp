// Late-bound calls: ITypeInfo::Invoke calls an interface method through the
// object's vtable with libffi, converting each dispatch argument to the
// parameter's type, and DispGetIDsOfNames/DispInvoke for objects that serve
// IDispatch from their type information.
#include <oleauto.h>

#include <ffi.h>

#include <cstring>
#include <vector>

#include "oleaut32/typeinfo.h"
#include "internal/win32call.h"

namespace tv {

namespace {

using typelib::Function;
using typelib::Param;
using typelib::TypeRef;

// A VARIANT passed by value: four words and two 64-bit halves of its value.
ffi_type* variantElements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                               &ffi_type_uint64, &ffi_type_uint64, nullptr};
ffi_type variantType = {sizeof(VARIANT), alignof(VARIANT), FFI_TYPE_STRUCT, variantElements};

// The libffi type of a scalar passed by value; null for a type that is not.
ffi_type* scalarType(VARTYPE vt) {
  switch (vt) {
    case VT_I1: return &ffi_type_sint8;
    case VT_UI1: return &ffi_type_uint8;
    case VT_I2: case VT_BOOL: return &ffi_type_sint16;
    case VT_UI2: return &ffi_type_uint16;
    case VT_I4: case VT_INT: case VT_ERROR: return &ffi_type_sint32;
    case VT_UI4: case VT_UINT: return &ffi_type_uint32;
    case VT_I8: return &ffi_type_sint64;
    case VT_UI8: return &ffi_type_uint64;
    case VT_R4: return &ffi_type_float;
    case VT_R8: case VT_DATE: return &ffi_type_double;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return &ffi_type_pointer;
    default: return nullptr;
  }
}

// The automation type of what a pointer parameter points at: a scalar, a
// VARIANT, or an interface of the library (VT_DISPATCH when it derives from
// IDispatch, else VT_UNKNOWN).
VARTYPE pointeeType(const typelib::Library& library, const TypeRef& type) {
  if (type.pointers == 1 && (type.vt == VT_VARIANT || scalarType(type.vt) != nullptr)) return type.vt;
  if (type.pointers == 2 && type.vt == VT_USERDEFINED)
    if (const typelib::Type* target = findType(library, type.userType))
      return (target->flags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN;
  return VT_EMPTY;
}

struct ArgumentError {
  HRESULT code;
};

// Storage for one argument of the call; its address does not change while
// the call is prepared and made.
struct Argument {
  VARIANT value;  // the converted value, owned (cleared afterwards)
  void* pointer = nullptr;  // for pointer parameters
  VARIANT* writeBack = nullptr;  // VT_BYREF|VT_VARIANT target of an out parameter
  bool borrowed = false;  // value is the caller's VARIANT, passed on by value
  Argument() { VariantInit(&value); }
  ~Argument() {
    if (!borrowed) VariantClear(&value);
  }
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;
};

// The argument as given, or the variant a VT_BYREF|VT_VARIANT points at.
const VARIANT& unwrap(const VARIANT& arg) {
  if (arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal != nullptr) return *arg.pvarVal;
  return arg;
}

// Prepares one [in] argument passed by value.
ffi_type* prepareValue(const Param& param, const VARIANT& arg, Argument& out, void*& address) {
  if (param.type.vt == VT_VARIANT) {
    // The callee does not own an [in] VARIANT: it gets the caller's bytes.
    std::memcpy(&out.value, &unwrap(arg), sizeof(VARIANT));
    out.borrowed = true;
    address = &out.value;
    return &variantType;
  }
  ffi_type* type = scalarType(param.type.vt);
  if (type == nullptr) throw ArgumentError{DISP_E_TYPEMISMATCH};
  const HRESULT hr = VariantChangeType(&out.value, &arg, 0, param.type.vt);
  if (FAILED(hr)) throw ArgumentError{hr};
  address = &out.value.llVal;  // every scalar starts the value union
  return type;
}

// Prepares a pointer argument: [in] VARIANT*, or an [out] or [in, out]
// pointer given as VT_BYREF of the same type or of VARIANT.
void preparePointer(const typelib::Library& library, const Param& param, const VARIANT& arg, Argument& out) {
  const VARTYPE target = pointeeType(library, param.type);
  if (target == VT_VARIANT) {
    out.pointer = const_cast<VARIANT*>(&unwrap(arg));
    return;
  }
  if (target == VT_EMPTY) throw ArgumentError{DISP_E_TYPEMISMATCH};
  if (arg.vt == (VT_BYREF | target) && arg.byref != nullptr) {
    out.pointer = arg.byref;
    return;
  }
  if (arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal != nullptr) {
    // The callee works on a value of its own type, copied back afterwards.
    if (param.flags & PARAMFLAG_FIN) {
      const HRESULT hr = VariantChangeType(&out.value, arg.pvarVal, 0, target);
      if (FAILED(hr)) throw ArgumentError{hr};
    } else {
      out.value.llVal = 0;
      out.value.brecVal.pRecInfo = nullptr;
      out.value.vt = target;
    }
    out.writeBack = arg.pvarVal;
    out.pointer = &out.value.llVal;
    return;
  }
  if (!(param.flags & PARAMFLAG_FOUT)) {
    const HRESULT hr = VariantChangeType(&out.value, &arg, 0, target);
    if (FAILED(hr)) throw ArgumentError{hr};
    out.pointer = &out.value.llVal;
    return;
  }
  throw ArgumentError{DISP_E_TYPEMISMATCH};
}

const Function* findFunction(const std::vector<Member>& members, MEMBERID memid, WORD flags, size_t* slot) {
  for (const Member& m : members)
    if (m.function->id == memid && (m.function->invokeKind & flags)) {
      *slot = m.slot;
      return m.function;
    }
  return nullptr;
}

// Which of the declared parameters the caller gives: those before the
// [retval], of which trailing [optional] VARIANTs may be left out.
struct CallShape {
  bool hasRetval = false;
  size_t inputs = 0;
};

// Checks the caller's arguments against the function; S_OK or the failure.
HRESULT checkCall(const Function& function, WORD flags, const DISPPARAMS& params, CallShape& shape) {
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (params.cNamedArgs > 0 &&
      !(put && params.cNamedArgs == 1 && params.rgdispidNamedArgs != nullptr &&
        params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT))
    return DISP_E_NONAMEDARGS;
  if (params.cArgs > 0 && params.rgvarg == nullptr) return E_INVALIDARG;
  if (function.result.vt != VT_HRESULT || function.result.pointers != 0) return DISP_E_BADCALLEE;
  const std::vector<Param>& declared = function.params;
  shape.hasRetval = !declared.empty() && (declared.back().flags & PARAMFLAG_FRETVAL);
  shape.inputs = declared.size() - (shape.hasRetval ? 1 : 0);
  size_t optional = 0;
  for (size_t i = shape.inputs; i > 0 && (declared[i - 1].flags & PARAMFLAG_FOPT) &&
                                declared[i - 1].type.vt == VT_VARIANT && declared[i - 1].type.pointers == 0;
       --i)
    ++optional;
  if (params.cArgs > shape.inputs || params.cArgs + optional < shape.inputs) return DISP_E_BADPARAMCOUNT;
  return S_OK;
}

// The libffi argument list of a call: the instance, then each parameter.
struct CallFrame {
  std::vector<ffi_type*> types{&ffi_type_pointer};
  std::vector<void*> values;
  void add(ffi_type* type, void* value) {
    types.push_back(type);
    values.push_back(value);
  }
};

// The [retval] pointer: a zeroed value of its type for the callee to fill
// (a VARIANT result starts empty). False when the type is none it can be.
bool prepareRetval(const typelib::Library& library, const Param& param, Argument& arg) {
  const VARTYPE type = pointeeType(library, param.type);
  if (type == VT_EMPTY) return false;
  arg.value.llVal = 0;
  arg.value.brecVal.pRecInfo = nullptr;
  if (type != VT_VARIANT) arg.value.vt = type;
  arg.pointer = type == VT_VARIANT ? static_cast<void*>(&arg.value) : &arg.value.llVal;
  return true;
}

// Parameter i from the caller's argument (DISPPARAMS holds them last one
// first), or an omitted [optional] VARIANT. Throws ArgumentError.
void prepareArgument(const typelib::Library& library, const Param& param, const DISPPARAMS& params, size_t i,
                     Argument& arg, CallFrame& frame) {
  if (i >= params.cArgs) {
    arg.value.vt = VT_ERROR;
    arg.value.scode = DISP_E_PARAMNOTFOUND;
    return frame.add(&variantType, &arg.value);
  }
  const VARIANT& given = params.rgvarg[params.cArgs - 1 - i];
  if (param.type.pointers == 0) {
    void* address = nullptr;
    ffi_type* type = prepareValue(param, given, arg, address);
    return frame.add(type, address);
  }
  preparePointer(library, param, given, arg);
  frame.add(&ffi_type_pointer, &arg.pointer);
}

// Calls the method in the vtable slot; false when libffi cannot make the call.
bool callSlot(void* instance, size_t slot, CallFrame& frame, HRESULT& hr) {
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(frame.types.size()), &ffi_type_sint32,
                   frame.types.data()) != FFI_OK)
    return false;
  void** vtable = *static_cast<void***>(instance);
  ffi_arg returned = 0;
  ffi_call(&cif, FFI_FN(vtable[slot]), &returned, frame.values.data());
  hr = static_cast<HRESULT>(static_cast<int32_t>(returned));
  return true;
}

// After a successful call: out parameters back to the caller's VARIANTs,
// the [retval] to `result`.
void handOut(std::vector<Argument>& args, bool hasRetval, VARIANT* result) {
  for (Argument& arg : args)
    if (arg.writeBack != nullptr) {
      VariantClear(arg.writeBack);
      *arg.writeBack = arg.value;
      arg.value.vt = VT_EMPTY;
    }
  if (hasRetval && result != nullptr) {
    *result = args.back().value;
    args.back().value.vt = VT_EMPTY;
  }
}

HRESULT invoke(const typelib::Library& library, const std::vector<Member>& members, void* instance,
               MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
               UINT* argError) {
  size_t slot = 0;
  const Function* function = findFunction(members, memid, flags, &slot);
  if (function == nullptr) return DISP_E_MEMBERNOTFOUND;
  CallShape shape;
  if (const HRESULT checked = checkCall(*function, flags, *params, shape); FAILED(checked)) return checked;

  const std::vector<Param>& declared = function->params;
  std::vector<Argument> args(declared.size());
  CallFrame frame;
  frame.values.push_back(&instance);
  for (size_t i = 0; i < declared.size(); ++i) {
    if (shape.hasRetval && i == shape.inputs) {
      if (!prepareRetval(library, declared[i], args[i])) return DISP_E_BADCALLEE;
      frame.add(&ffi_type_pointer, &args[i].pointer);
      continue;
    }
    try {
      prepareArgument(library, declared[i], *params, i, args[i], frame);
    } catch (const ArgumentError& error) {
      if (argError != nullptr) *argError = params->cArgs - 1 - static_cast<UINT>(i);
      return error.code;
    }
  }

  HRESULT hr = S_OK;
  if (!callSlot(instance, slot, frame, hr)) return DISP_E_BADCALLEE;
  if (FAILED(hr)) {
    // The method's failure reaches the caller as an exception of the call.
    if (exception != nullptr) {
      std::memset(exception, 0, sizeof *exception);
      exception->scode = hr;
    }
    return DISP_E_EXCEPTION;
  }
  handOut(args, shape.hasRetval, result);
  return hr;
}

}  // namespace

HRESULT invokeMember(const typelib::Library& library, const std::vector<Member>& members, void* instance,
                     MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                     UINT* argError) {
  if (result != nullptr) VariantInit(result);
  return comCall([&] { return invoke(library, members, instance, memid, flags, params, result, exception, argError); });
}

}  // namespace tv

HRESULT WINAPI DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT WINAPI DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags, DISPPARAMS* pparams,
                          VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}
