// The component reached as a script reaches it: Tellvane.Signer32 created by
// ProgID through the registry, its methods called by name through IDispatch.
#include "automation/automationclient.h"
#include "component.h"

namespace bridge {

namespace {

class Signer : public Component {
 public:
  std::string call(const std::string& method, const std::vector<Argument>& args) override {
    return client_.call(method, args);
  }

 private:
  automation::AutomationClient client_{"Tellvane.Signer32"};
};

}  // namespace

std::unique_ptr<Component> makeSignerComponent() { return std::make_unique<Signer>(); }

}  // namespace bridge
