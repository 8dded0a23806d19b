#include "host.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "framing.h"

namespace bridge {

namespace {

using nlohmann::json;

// A request the host refuses; consent, when set, says why in a word the
// extension acts on ("ask": nobody asked the user yet; "denied").
struct Refusal : std::runtime_error {
  explicit Refusal(const std::string& text, const char* consent = nullptr)
      : std::runtime_error(text), consent(consent) {}
  const char* consent;
};

struct Method {
  const char* name;
  std::size_t arity;
};

// The component's methods a page may call, and how many texts each takes.
const Method kComponentMethods[] = {{"getCertListAsJson", 1}, {"signHash", 3}, {"signString", 3}, {"showMessage", 1}};

const std::size_t kMaxIdLength = 256;

// A text from the request in an error message, cut short: the reply must
// stay small whatever the request held.
std::string quoted(const std::string& text) {
  return "'" + (text.size() > 64 ? text.substr(0, 64) + "..." : text) + "'";
}

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string textMember(const json& request, const char* name) {
  auto member = request.find(name);
  if (member == request.end()) throw Refusal(std::string("The request has no \"") + name + "\"");
  if (!member->is_string()) throw Refusal(std::string("The request's \"") + name + "\" is not a text");
  return member->get<std::string>();
}

std::vector<Argument> arguments(const json& request) {
  std::vector<Argument> args;
  auto member = request.find("args");
  if (member == request.end()) return args;
  if (!member->is_array()) throw Refusal("The request's \"args\" is not an array");
  for (const json& arg : *member) {
    if (arg.is_null())
      args.emplace_back(std::nullopt);
    else if (arg.is_string())
      args.emplace_back(arg.get<std::string>());
    else
      throw Refusal("Argument " + std::to_string(args.size() + 1) + " is neither a text nor null");
  }
  return args;
}

void requireArity(const std::string& method, std::size_t arity, const std::vector<Argument>& args) {
  if (args.size() != arity)
    throw Refusal(method + " takes " + std::to_string(arity) + (arity == 1 ? " argument, not " : " arguments, not ") +
                  std::to_string(args.size()));
}

const Method* componentMethod(const std::string& name) {
  for (const Method& method : kComponentMethods)
    if (name == method.name) return &method;
  return nullptr;
}

std::string errorReply(const json& id, const std::string& text, const char* consent = nullptr) {
  json reply = {{"id", id}, {"error", text}};
  if (consent != nullptr) reply["consent"] = consent;
  return dump(reply);
}

}  // namespace

std::string Host::refuseOversized() {
  return errorReply(nullptr,
                    "The message is larger than the " + std::to_string(kRequestLimit >> 20) + " MiB the host accepts");
}

std::string Host::reply(std::string_view message) {
  json id = nullptr;
  try {
    json request = json::parse(message.begin(), message.end(), nullptr, false);
    if (request.is_discarded()) throw Refusal("The message is not JSON");
    if (!request.is_object()) throw Refusal("The message is not a JSON object");
    if (auto member = request.find("id"); member != request.end()) {
      if (!(member->is_number() ||
            (member->is_string() && member->get_ref<const std::string&>().size() <= kMaxIdLength)))
        throw Refusal("The request's \"id\" is neither a number nor a short text");
      id = *member;
    }
    std::string origin = request.contains("origin") ? textMember(request, "origin") : std::string();
    std::string result = answer(origin, textMember(request, "method"), arguments(request));
    std::string reply = dump(json{{"id", id}, {"result", result}});
    if (reply.size() > kReplyLimit)
      return errorReply(id, "The answer is larger than the 1 MiB a browser accepts from its host");
    return reply;
  } catch (const Refusal& refusal) {
    return errorReply(id, refusal.what(), refusal.consent);
  } catch (const std::exception& failure) {
    return errorReply(id, failure.what());
  }
}

std::string Host::answer(const std::string& origin, const std::string& method, const std::vector<Argument>& args) {
  if (method == "bridge.version") {
    requireArity(method, 0, args);
    return TELLVANE_VERSION;
  }
  if (origin.empty()) throw Refusal("The request names no origin");
  if (!isSecureOrigin(origin)) throw Refusal("The origin " + quoted(origin) + " is not a secure origin");
  if (method == "bridge.allow" || method == "bridge.deny") {
    requireArity(method, 0, args);
    Consent consent = method == "bridge.allow" ? Consent::Allowed : Consent::Denied;
    consent_.record(origin, consent);
    return consentName(consent);
  }
  const Method* known = componentMethod(method);
  if (known == nullptr) throw Refusal("Unknown method " + quoted(method));
  requireArity(method, known->arity, args);
  switch (consent_.of(origin)) {
    case Consent::Allowed:
      return component().call(method, args);
    case Consent::Denied:
      throw Refusal("The user has refused " + origin + " the use of Tellvane", "denied");
    default:
      throw Refusal("The user has not yet allowed " + origin + " to use Tellvane", "ask");
  }
}

Component& Host::component() {
  if (!component_) component_ = makeComponent_();
  return *component_;
}

}  // namespace bridge
