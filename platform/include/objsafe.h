// IObjectSafety: how an object tells a script host that it is safe to be
// called by untrusted scripts and with untrusted data.
#pragma once

#include "unknwn.h"

#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002

TV_PLATFORM_GUID(IID_IObjectSafety);

#if defined(__cplusplus) && !defined(CINTERFACE)
struct IObjectSafety : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                                              DWORD* pdwEnabledOptions) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                              DWORD dwEnabledOptions) = 0;
};
#else
typedef struct IObjectSafety IObjectSafety;
#endif
