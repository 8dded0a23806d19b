// OLE Automation: BSTR (length-prefixed UTF-16) and, with the COM runtime,
// VARIANT and type libraries.
#pragma once

#include "windows.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;
typedef BSTR* LPBSTR;

// A BSTR points just after a 32-bit byte length and is followed by a zero
// character that the length does not count.
WINOLEAUTAPI BSTR WINAPI SysAllocString(const OLECHAR* psz);
WINOLEAUTAPI BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
WINOLEAUTAPI void WINAPI SysFreeString(BSTR bstrString);
WINOLEAUTAPI UINT WINAPI SysStringLen(BSTR pbstr);
WINOLEAUTAPI UINT WINAPI SysStringByteLen(BSTR bstr);
