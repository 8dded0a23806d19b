// The component reached as a script reaches it: Tellvane.Signer32 created by
// ProgID through the registry, its methods called by name through IDispatch.
#include <windows.h>

#include <string>

#include "automation/automationclient.h"
#include "component.h"
#include "pinpurpose.h"

namespace bridge {

namespace {

using WideString = std::basic_string<WCHAR>;

// UTF-8 to the platform's wide text; the host's texts came from JSON, so
// they are valid UTF-8.
WideString wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) throw std::invalid_argument("the text is not UTF-8");
  WideString result(static_cast<size_t>(length), 0);
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), length);
  return result;
}

class Signer : public Component {
 public:
  std::string call(const std::string& method, const std::vector<Argument>& args) override {
    return client_.call(method, args);
  }
  void showMessage(const std::string& title, const std::string& text) override {
    MessageBoxW(nullptr, wide(text).c_str(), wide(title).c_str(), MB_ICONINFORMATION);
  }
  void announce(const std::string& purpose) override { announcePinPurpose(purpose); }

 private:
  automation::AutomationClient client_{"Tellvane.Signer32"};
};

}  // namespace

std::unique_ptr<Component> makeSignerComponent() { return std::make_unique<Signer>(); }

}  // namespace bridge
