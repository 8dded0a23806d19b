// GUIDs: the 16-byte identifiers of classes, interfaces and type libraries.
#pragma once

#include "windef.h"

#ifdef __cplusplus
#include <string.h>
#define EXTERN_C extern "C"
#else
#include <string.h>
#define EXTERN_C extern
#endif

typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef GUID* LPGUID;

#ifdef __cplusplus
#define REFGUID const GUID&
#define REFIID const IID&
#define REFCLSID const CLSID&
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }
#else
#define REFGUID const GUID*
#define REFIID const IID*
#define REFCLSID const CLSID*
#define IsEqualGUID(a, b) (memcmp((a), (b), sizeof(GUID)) == 0)
#endif
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

// As on Windows: a header declares the identifier; the one source file that
// defines INITGUID before including it also defines its value.
#ifdef INITGUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  EXTERN_C const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) EXTERN_C const GUID name
#endif

// The identifiers the platform itself defines, exported from its library.
#define TV_PLATFORM_GUID(name) EXTERN_C __attribute__((visibility("default"))) const GUID name

TV_PLATFORM_GUID(GUID_NULL);
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL
