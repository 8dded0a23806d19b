// The component's server module and the five functions the library exports.
#include <windows.h>
#include <objbase.h>

#include "tellvane/classfactory.h"
#include "tellvane/interfaces.h"
#include "tellvane/servermodule.h"
#include "tellvane/signer32.h"

namespace {

// The registry scripts among the library's resources.
const UINT kModuleScript = 101;
const UINT kSigner32Script = 106;

Tellvane::ClassFactory signer32Factory(&CSigner32::createInstance);

const Tellvane::ObjectEntry objectMap[] = {
    {&CLSID_Signer32, kSigner32Script, &signer32Factory},
};

}  // namespace

class CTellvaneModule : public Tellvane::ServerModule {
 public:
  CTellvaneModule()
      : ServerModule(LIBID_TellvaneLib, APPID_Tellvane, kModuleScript, objectMap,
                     sizeof objectMap / sizeof objectMap[0]) {}
};

CTellvaneModule tellvaneModule;

STDAPI DllCanUnloadNow() { return tellvaneModule.canUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return tellvaneModule.getClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() { return tellvaneModule.registerServer(); }

STDAPI DllUnregisterServer() { return tellvaneModule.unregisterServer(); }

STDAPI DllInstall(BOOL bInstall, LPCWSTR pszCmdLine) { return tellvaneModule.install(bInstall, pszCmdLine); }
