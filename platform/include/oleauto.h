// OLE Automation: BSTR (length-prefixed UTF-16) and, with the COM runtime,
// VARIANT and type libraries.
#pragma once

#include "windows.h"
#include "oaidl.h"  // with wtypes.h: OLECHAR, BSTR, VARIANT

// A BSTR points just after a 32-bit byte length and is followed by a zero
// character that the length does not count.
WINOLEAUTAPI BSTR WINAPI SysAllocString(const OLECHAR* psz);
WINOLEAUTAPI BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
WINOLEAUTAPI void WINAPI SysFreeString(BSTR bstrString);
WINOLEAUTAPI UINT WINAPI SysStringLen(BSTR pbstr);
WINOLEAUTAPI UINT WINAPI SysStringByteLen(BSTR bstr);

// ---- VARIANT ------------------------------------------------------------------

// Flags of VariantChangeType.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

WINOLEAUTAPI void WINAPI VariantInit(VARIANTARG* pvarg);
WINOLEAUTAPI HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
WINOLEAUTAPI HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
WINOLEAUTAPI HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
WINOLEAUTAPI HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                              VARTYPE vt);
WINOLEAUTAPI HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                                USHORT wFlags, VARTYPE vt);

// ---- Type libraries -----------------------------------------------------------

WINOLEAUTAPI HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
WINOLEAUTAPI HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                           ITypeLib** pptlib);
WINOLEAUTAPI HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                                                  LPBSTR lpbstrPathName);
WINOLEAUTAPI HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
WINOLEAUTAPI HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                              SYSKIND syskind);
WINOLEAUTAPI HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
WINOLEAUTAPI HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum,
                                                     LCID lcid, SYSKIND syskind);

// ---- Dispatch from type information --------------------------------------------

WINOLEAUTAPI HRESULT WINAPI DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames,
                                              DISPID* rgdispid);
WINOLEAUTAPI HRESULT WINAPI DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                                       DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                                       UINT* puArgErr);
