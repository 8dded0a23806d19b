// One connection's requests, each turned into one reply. A request
//   {"id":…, "origin":"https://…", "method":"signString", "args":[…]}
// is answered {"id":…, "result":"<the method's text>"} or, when the host
// itself refuses, {"id":…, "error":"<why>"}; a refusal for want of the
// user's consent also says "consent":"ask" or "consent":"denied".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "component.h"
#include "consent.h"

namespace bridge {

class Host {
 public:
  using ComponentFactory = std::function<std::unique_ptr<Component>()>;

  Host(ConsentStore& consent, ComponentFactory makeComponent)
      : consent_(consent), makeComponent_(std::move(makeComponent)) {}

  // The reply to one message, at most kReplyLimit bytes.
  std::string reply(std::string_view message);
  // The reply to a message that was too large to read.
  static std::string refuseOversized();

 private:
  std::string answer(const std::string& origin, const std::string& method, const std::vector<Argument>& args);
  Component& component();

  ConsentStore& consent_;
  ComponentFactory makeComponent_;
  std::unique_ptr<Component> component_;  // made on first use, once it can be
};

}  // namespace bridge
