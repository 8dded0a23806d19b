// The COM test server's identifiers and interfaces, as a C++ client of it
// sees them (they match testserver.idl).
#pragma once

#include <objbase.h>
#include <oleauto.h>

// {3A7B9C1D-2E4F-4061-8293-A4B5C6D7E8F9}
constexpr CLSID kClsidGreeter = {0x3A7B9C1D, 0x2E4F, 0x4061, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
// {9D4E6F80-1B2C-4A3D-8E5F-60718293A4B5}
constexpr GUID kLibidTestServer = {0x9D4E6F80, 0x1B2C, 0x4A3D, {0x8E, 0x5F, 0x60, 0x71, 0x82, 0x93, 0xA4, 0xB5}};
// {6F1C2A52-3D0B-4E8A-9C61-2B7E5D9A0F13}
constexpr IID kIidGreeter = {0x6F1C2A52, 0x3D0B, 0x4E8A, {0x9C, 0x61, 0x2B, 0x7E, 0x5D, 0x9A, 0x0F, 0x13}};
// {0B5E37C4-8A21-4F0D-B6E2-91C4D7A35E20}: described in the type library only
constexpr IID kIidCounter = {0x0B5E37C4, 0x8A21, 0x4F0D, {0xB6, 0xE2, 0x91, 0xC4, 0xD7, 0xA3, 0x5E, 0x20}};

struct IGreeter : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE show(BSTR text) = 0;
  virtual HRESULT STDMETHODCALLTYPE greet(BSTR name, BSTR* greeting) = 0;
  virtual HRESULT STDMETHODCALLTYPE join(BSTR first, BSTR second, BSTR third, BSTR* joined) = 0;
  virtual HRESULT STDMETHODCALLTYPE refuse(BSTR reason, BSTR* never) = 0;
  virtual HRESULT STDMETHODCALLTYPE add(LONG a, LONG b, LONG* sum) = 0;
  virtual HRESULT STDMETHODCALLTYPE describe(VARIANT value, BSTR* text) = 0;
  virtual HRESULT STDMETHODCALLTYPE split(BSTR text, BSTR* head, BSTR* tail) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_calls(LONG* count) = 0;
};

// What refuse() returns: a failure the caller sees as the call's exception.
constexpr HRESULT kRefusal = E_ACCESSDENIED;
