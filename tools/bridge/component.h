// The component as the host sees it: a method called by name with string
// arguments (a null argument is a null automation string), returning the
// method's text.
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
};

}  // namespace bridge

namespace bridge {

// Tellvane.Signer32, created by ProgID through the registry as any
// automation client creates it; throws when it cannot be.
std::unique_ptr<Component> makeSignerComponent();

}  // namespace bridge
