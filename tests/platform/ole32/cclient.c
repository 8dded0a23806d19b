/* A plain C automation client: it creates an object by ProgID and calls a
   method by name through IDispatch, as a C program on Windows would. */
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

HRESULT tvtest_c_call_by_name(const WCHAR* progId, const WCHAR* method, BSTR* args, UINT count, VARIANT* result) {
  CLSID clsid;
  IDispatch* object = NULL;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[1];
  VARIANT reversed[8];
  DISPPARAMS params;
  EXCEPINFO exception;
  UINT argError = 0;
  UINT i;
  HRESULT hr;

  if (count > 8) return E_INVALIDARG;
  hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch, (void**)&object);
  if (FAILED(hr)) return hr;

  names[0] = (LPOLESTR)method;
  hr = IDispatch_GetIDsOfNames(object, &IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (SUCCEEDED(hr)) {
    /* DISPPARAMS holds the arguments last one first. */
    for (i = 0; i < count; ++i) {
      VariantInit(&reversed[count - 1 - i]);
      reversed[count - 1 - i].vt = VT_BSTR;
      reversed[count - 1 - i].bstrVal = args[i];
    }
    params.rgvarg = reversed;
    params.rgdispidNamedArgs = NULL;
    params.cArgs = count;
    params.cNamedArgs = 0;
    VariantInit(result);
    hr = IDispatch_Invoke(object, id, &IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &exception,
                          &argError);
    if (hr == DISP_E_EXCEPTION) {
      hr = exception.scode;
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
    }
  }
  IDispatch_Release(object);
  return hr;
}
