// VARIANT: initialisation, clearing, copying and the conversions between the
// scalar types, strings and object pointers that automation callers use.
#include <oleauto.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "internal/nocase.h"
#include "internal/win32call.h"

namespace {

// Bytes of the value a VT_BYREF variant points at; 0 for types the stand-in
// does not hold (arrays, records, decimals, currency).
size_t valueSize(VARTYPE base) {
  switch (base) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(void*);
    default:
      return 0;
  }
}

bool validType(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  if ((vt & ~(VT_TYPEMASK | VT_BYREF)) != 0) return false;  // arrays are not held
  if (vt & VT_BYREF) return base == VT_VARIANT || valueSize(base) != 0;
  return base == VT_EMPTY || base == VT_NULL || valueSize(base) != 0;
}

struct ConversionFailure {
  HRESULT code;
};
[[noreturn]] void refuse(HRESULT code) { throw ConversionFailure{code}; }

// A numeric value read from a variant: exact when integral, else a double.
struct Number {
  bool integral;
  long long integer;
  unsigned long long unsignedInteger;  // used when isUnsigned
  bool isUnsigned;
  double real;
  double asDouble() const {
    return integral ? (isUnsigned ? static_cast<double>(unsignedInteger) : static_cast<double>(integer)) : real;
  }
};

Number integral(long long v) { return Number{true, v, 0, false, 0}; }
Number real(double v) { return Number{false, 0, 0, false, v}; }

Number parseNumber(const std::u16string& text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) refuse(DISP_E_TYPEMISMATCH);
    ascii += static_cast<char>(c);
  }
  const size_t first = ascii.find_first_not_of(" \t");
  const size_t last = ascii.find_last_not_of(" \t");
  if (first == std::string::npos) refuse(DISP_E_TYPEMISMATCH);
  const char* begin = ascii.data() + first;
  const char* end = ascii.data() + last + 1;
  if (*begin == '+') ++begin;
  double value = 0;
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (error == std::errc::result_out_of_range) refuse(DISP_E_OVERFLOW);
  if (error != std::errc() || stop != end || std::isnan(value) || std::isinf(value)) refuse(DISP_E_TYPEMISMATCH);
  return real(value);
}

bool isTrueWord(const std::u16string& t) { return tv::equalNoCase(t, u"True") || tv::equalNoCase(t, u"#TRUE#"); }
bool isFalseWord(const std::u16string& t) {
  return tv::equalNoCase(t, u"False") || tv::equalNoCase(t, u"#FALSE#");
}

Number readNumber(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return integral(0);
    case VT_I1: return integral(v.cVal);
    case VT_UI1: return integral(v.bVal);
    case VT_I2: return integral(v.iVal);
    case VT_UI2: return integral(v.uiVal);
    case VT_BOOL: return integral(v.boolVal);
    case VT_I4: return integral(v.lVal);
    case VT_INT: return integral(v.intVal);
    case VT_UI4: return integral(v.ulVal);
    case VT_UINT: return integral(v.uintVal);
    case VT_I8: return integral(v.llVal);
    case VT_UI8: {
      Number n{true, 0, static_cast<unsigned long long>(v.llVal), true, 0};
      return n;
    }
    case VT_R4: return real(v.fltVal);
    case VT_R8: return real(v.dblVal);
    case VT_BSTR: {
      const std::u16string text(v.bstrVal != nullptr ? v.bstrVal : u"", v.bstrVal != nullptr ? SysStringLen(v.bstrVal) : 0);
      if (isTrueWord(text)) return integral(VARIANT_TRUE);
      if (isFalseWord(text)) return integral(VARIANT_FALSE);
      return parseNumber(text);
    }
    default: refuse(DISP_E_TYPEMISMATCH);
  }
}

// An integer in [low, high]; a real is rounded half to even, as Windows does.
long long toInteger(const Number& n, long double low, long double high) {
  if (n.integral && n.isUnsigned) {
    if (static_cast<long double>(n.unsignedInteger) > high) refuse(DISP_E_OVERFLOW);
    return static_cast<long long>(n.unsignedInteger);
  }
  if (n.integral) {
    if (n.integer < low || n.integer > high) refuse(DISP_E_OVERFLOW);
    return n.integer;
  }
  const double rounded = std::nearbyint(n.real);
  if (rounded < low || rounded > high) refuse(DISP_E_OVERFLOW);
  return static_cast<long long>(rounded);
}

std::u16string formatReal(double value, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", digits, value);
  return std::u16string(buffer, buffer + std::strlen(buffer));
}

std::u16string toText(const VARIANT& v, USHORT flags) {
  switch (v.vt) {
    case VT_EMPTY: return u"";
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) return v.boolVal ? u"True" : u"False";
      return v.boolVal ? u"-1" : u"0";
    case VT_R4: return formatReal(v.fltVal, 7);
    case VT_R8: return formatReal(v.dblVal, 15);
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: {
      const Number n = readNumber(v);
      const std::string digits = n.isUnsigned ? std::to_string(n.unsignedInteger) : std::to_string(n.integer);
      return std::u16string(digits.begin(), digits.end());
    }
    default: refuse(DISP_E_TYPEMISMATCH);
  }
}

BSTR allocText(const std::u16string& text) {
  BSTR out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (out == nullptr) refuse(E_OUTOFMEMORY);
  return out;
}

// Reads an object's value property (DISPID_VALUE), as Windows does before
// converting an IDispatch to a scalar.
VARIANT valueProperty(IDispatch* object) {
  VARIANT value;
  VariantInit(&value);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (object == nullptr ||
      FAILED(object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value,
                            nullptr, nullptr)))
    refuse(DISP_E_TYPEMISMATCH);
  return value;
}

// Converts a variant that holds a value (never VT_BYREF) into a new one of
// type vt. The source is left as it was.
VARIANT convert(const VARIANT& src, USHORT flags, VARTYPE vt) {
  VARIANT out;
  VariantInit(&out);
  if (src.vt == vt) {
    HRESULT hr = VariantCopy(&out, &src);
    if (FAILED(hr)) refuse(hr);
    return out;
  }
  if (vt == VT_EMPTY) return out;
  if (src.vt == VT_NULL || vt == VT_NULL) refuse(DISP_E_TYPEMISMATCH);
  if (src.vt == VT_DISPATCH && vt != VT_UNKNOWN) {
    if (flags & VARIANT_NOVALUEPROP) refuse(DISP_E_TYPEMISMATCH);
    VARIANT value = valueProperty(src.pdispVal);
    try {
      if (value.vt == VT_DISPATCH) refuse(DISP_E_TYPEMISMATCH);
      out = convert(value, flags, vt);
    } catch (...) {
      VariantClear(&value);
      throw;
    }
    VariantClear(&value);
    return out;
  }
  switch (vt) {
    case VT_BSTR: out.bstrVal = allocText(toText(src, flags)); break;
    case VT_BOOL: {
      const Number n = readNumber(src);
      out.boolVal = n.asDouble() != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case VT_I1: out.cVal = static_cast<CHAR>(toInteger(readNumber(src), -128, 127)); break;
    case VT_UI1: out.bVal = static_cast<BYTE>(toInteger(readNumber(src), 0, 255)); break;
    case VT_I2: out.iVal = static_cast<SHORT>(toInteger(readNumber(src), -32768, 32767)); break;
    case VT_UI2: out.uiVal = static_cast<USHORT>(toInteger(readNumber(src), 0, 65535)); break;
    case VT_I4: case VT_INT: out.lVal = static_cast<LONG>(toInteger(readNumber(src), INT32_MIN, INT32_MAX)); break;
    case VT_UI4: case VT_UINT: out.ulVal = static_cast<ULONG>(toInteger(readNumber(src), 0, UINT32_MAX)); break;
    case VT_I8: out.llVal = toInteger(readNumber(src), INT64_MIN, static_cast<long double>(INT64_MAX)); break;
    case VT_UI8: {
      const Number n = readNumber(src);
      if (n.integral && n.isUnsigned) {
        out.llVal = static_cast<LONGLONG>(n.unsignedInteger);
      } else {
        const long long v = toInteger(n, 0, static_cast<long double>(INT64_MAX));
        out.llVal = v;
      }
      break;
    }
    case VT_R8: out.dblVal = readNumber(src).asDouble(); break;
    case VT_R4: {
      const double d = readNumber(src).asDouble();
      if (std::fabs(d) > std::numeric_limits<float>::max()) refuse(DISP_E_OVERFLOW);
      out.fltVal = static_cast<float>(d);
      break;
    }
    case VT_DISPATCH:
      if (src.vt == VT_UNKNOWN && src.punkVal != nullptr) {
        void* object = nullptr;
        if (FAILED(src.punkVal->QueryInterface(IID_IDispatch, &object))) refuse(DISP_E_TYPEMISMATCH);
        out.pdispVal = static_cast<IDispatch*>(object);
      } else if (src.vt != VT_EMPTY && src.vt != VT_UNKNOWN) {
        refuse(DISP_E_TYPEMISMATCH);
      }
      break;
    case VT_UNKNOWN:
      if (src.vt == VT_DISPATCH) {
        out.punkVal = src.pdispVal;
        if (out.punkVal != nullptr) out.punkVal->AddRef();
      } else if (src.vt != VT_EMPTY) {
        refuse(DISP_E_TYPEMISMATCH);
      }
      break;
    default: refuse(DISP_E_TYPEMISMATCH);
  }
  out.vt = vt;
  return out;
}

}  // namespace

void WINAPI VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!validType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (!(pvarg->vt & VT_BYREF)) {
    if (pvarg->vt == VT_BSTR) SysFreeString(pvarg->bstrVal);
    if ((pvarg->vt == VT_DISPATCH || pvarg->vt == VT_UNKNOWN) && pvarg->punkVal != nullptr) pvarg->punkVal->Release();
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!validType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy = *pvargSrc;
  if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  }
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    if (copy.vt == VT_BSTR) SysFreeString(copy.bstrVal);
    return hr;
  }
  if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal != nullptr) copy.punkVal->AddRef();
  *pvargDest = copy;
  return S_OK;
}

HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!validType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
  if (pvargSrc->byref == nullptr) return E_INVALIDARG;
  const VARTYPE base = pvargSrc->vt & VT_TYPEMASK;
  VARIANT value;
  VariantInit(&value);
  if (base == VT_VARIANT) {
    const VARIANT* inner = pvargSrc->pvarVal;
    if (inner->vt & VT_BYREF) return E_INVALIDARG;  // one level of indirection only
    value = *inner;
  } else {
    std::memcpy(&value.llVal, pvargSrc->byref, valueSize(base));
    value.vt = base;
  }
  // Copy through a temporary so that the source may be the destination.
  VARIANT copy;
  VariantInit(&copy);
  HRESULT hr = VariantCopy(&copy, &value);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvarDest = copy;
  return S_OK;
}

HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                                   VARTYPE vt) {
  (void)lcid;  // texts are written and read in the English (United States) form
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if (!validType(pvarSrc->vt) || (vt & VT_BYREF) || !validType(vt) || vt == VT_VARIANT) return DISP_E_BADVARTYPE;
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = VariantCopyInd(&value, pvarSrc);
  if (FAILED(hr)) return hr;
  VARIANT result;
  try {
    result = convert(value, wFlags, vt);
  } catch (const ConversionFailure& failure) {
    VariantClear(&value);
    return failure.code;
  } catch (const std::bad_alloc&) {
    VariantClear(&value);
    return E_OUTOFMEMORY;
  }
  VariantClear(&value);
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
