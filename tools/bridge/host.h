// One connection's requests, each turned into one reply, in order. A request
//   {"id":…, "origin":"https://…", "method":"signString", "args":[…]}
// is answered {"id":…, "result":"<the method's text>"} or, when the host
// itself refuses, {"id":…, "error":"<why>"}, with "code" when the refusal
// has a code of its own for the page (a malformed request). A refusal for
// want of the user's consent says "consent":"ask", with "prompt" holding the
// facts the host checked for the question (the scope, and for a signature
// the certificate's subject and issuer), or "consent":"denied".
//
// The extension speaks for the user: "bridge.grant" records an answer for a
// scope, and "consent":"once" on a signing request carries a signature the
// user allowed this time only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "component.h"
#include "consent.h"

namespace bridge {

// The protocol between the extension and the host: both must speak the
// same one. Raised whenever a message changes meaning.
constexpr int kProtocolVersion = 2;

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
  struct Request;
  std::string answer(const Request& request);
  std::string sign(const Request& request);
  Component& component();

  ConsentStore& consent_;
  ComponentFactory makeComponent_;
  std::unique_ptr<Component> component_;  // made on first use, once it can be
};

}  // namespace bridge
