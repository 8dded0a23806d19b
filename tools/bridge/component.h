// The component as the host sees it: a method called by name with string
// arguments (a null argument is a null automation string), returning the
// method's text; and a message box of the host's own, whose title it chooses.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bridge {

using Argument = std::optional<std::string>;

class Component {
 public:
  virtual ~Component() = default;
  virtual std::string call(const std::string& method, const std::vector<Argument>& args) = 0;
  // Shows the text in a modal message box titled title; returns when closed.
  virtual void showMessage(const std::string& title, const std::string& text) = 0;
  // What the key's PIN prompt says first from now on: who asks, and with which certificate.
  virtual void announce(const std::string& purpose) = 0;
};

// Tellvane.Signer32, created by ProgID through the registry as any
// automation client creates it; throws when it cannot be.
std::unique_ptr<Component> makeSignerComponent();

}  // namespace bridge
