// The component's identifiers and its dual interface, as C++ sees them
// (tellvane.idl describes the same for the type library).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// {11A0581C-505A-4F0C-8AB3-D777BFB3C3BB}
inline constexpr CLSID CLSID_Signer32 = {0x11A0581C, 0x505A, 0x4F0C, {0x8A, 0xB3, 0xD7, 0x77, 0xBF, 0xB3, 0xC3, 0xBB}};
// {B3E86A9F-CCCC-4605-8BB5-379E062AA721}
inline constexpr GUID LIBID_TellvaneLib = {
    0xB3E86A9F, 0xCCCC, 0x4605, {0x8B, 0xB5, 0x37, 0x9E, 0x06, 0x2A, 0xA7, 0x21}};
// {23320927-55BA-438D-B31C-4F6374D5E3B3}
inline constexpr IID IID_ISigner32 = {0x23320927, 0x55BA, 0x438D, {0xB3, 0x1C, 0x4F, 0x63, 0x74, 0xD5, 0xE3, 0xB3}};
// {57CBDE74-C742-4D86-A9E8-CAA7D781747F}
inline constexpr GUID APPID_Tellvane = {0x57CBDE74, 0xC742, 0x4D86, {0xA9, 0xE8, 0xCA, 0xA7, 0xD7, 0x81, 0x74, 0x7F}};

struct ISigner32 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE showMessage(BSTR msg) = 0;
  virtual HRESULT STDMETHODCALLTYPE getCertListAsJson(BSTR pin, BSTR* rv) = 0;
  virtual HRESULT STDMETHODCALLTYPE signHash(BSTR encodedHash, BSTR certThumb, BSTR pinCode,
                                             BSTR* encodedSignature) = 0;
  virtual HRESULT STDMETHODCALLTYPE signString(BSTR astr, BSTR certThumb, BSTR pinCode, BSTR* encodedSignature) = 0;
};
