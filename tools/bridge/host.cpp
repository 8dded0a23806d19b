#include "host.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "framing.h"

namespace bridge {

namespace {

using nlohmann::json;

const char kBadRequest[] = "TELLVANE_BAD_REQUEST";

// A request the host refuses. code, when set, is the page's error code;
// consent, when set, says why in a word the extension acts on ("ask":
// nobody asked the user yet, prompt holding what to ask; "denied").
struct Refusal : std::runtime_error {
  explicit Refusal(const std::string& text, const char* code = kBadRequest) : std::runtime_error(text), code(code) {}
  const char* code;
  const char* consent = nullptr;
  json prompt;
};

Refusal consentRefusal(const std::string& text, const char* consent, json prompt = nullptr) {
  Refusal refusal(text, nullptr);
  refusal.consent = consent;
  refusal.prompt = std::move(prompt);
  return refusal;
}

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

std::string errorReply(const json& id, const Refusal& refusal) {
  json reply = {{"id", id}, {"error", refusal.what()}};
  if (refusal.code != nullptr) reply["code"] = refusal.code;
  if (refusal.consent != nullptr) reply["consent"] = refusal.consent;
  if (!refusal.prompt.is_null()) reply["prompt"] = refusal.prompt;
  return dump(reply);
}

// The subject and issuer of the user's certificate with the thumbprint, as
// the component lists them; null when it has none.
json certificateNames(Component& component, const std::string& scope) {
  const json envelope = json::parse(component.call("getCertListAsJson", {std::string()}), nullptr, false);
  if (!envelope.is_object() || envelope.value("success", false) != true || !envelope["result"].is_array())
    throw std::runtime_error("The certificates cannot be listed");
  for (const json& certificate : envelope["result"]) {
    const json& thumbprint = certificate["Thumbprint"];
    if (thumbprint.is_string() && signScope(thumbprint.get<std::string>()) == scope)
      return {{"subject", certificate.value("DistinguishedName", "")},
              {"issuer", certificate.value("IssuerDistinguishedName", "")}};
  }
  return nullptr;
}

}  // namespace

struct Host::Request {
  std::string origin;
  std::string method;
  std::vector<Argument> args;
  bool once;  // a signature the user allowed this time only
};

std::string Host::refuseOversized() {
  return errorReply(nullptr,
                    Refusal("The message is larger than the " + std::to_string(kRequestLimit >> 20) +
                            " MiB the host accepts"));
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
    Request call{request.contains("origin") ? textMember(request, "origin") : std::string(),
                 textMember(request, "method"), arguments(request), request.value("consent", json()) == "once"};
    if (call.method == "bridge.version") {
      requireArity(call.method, 0, call.args);
      return dump(json{{"id", id}, {"result", TELLVANE_VERSION}, {"protocol", kProtocolVersion}});
    }
    std::string reply = dump(json{{"id", id}, {"result", answer(call)}});
    if (reply.size() > kReplyLimit)
      return errorReply(id, Refusal("The answer is larger than the 1 MiB a browser accepts from its host", nullptr));
    return reply;
  } catch (const Refusal& refusal) {
    return errorReply(id, refusal);
  } catch (const std::exception& failure) {
    return errorReply(id, Refusal(failure.what(), nullptr));
  }
}

std::string Host::answer(const Request& request) {
  const std::string& origin = request.origin;
  if (origin.empty()) throw Refusal("The request names no origin");
  if (!isSecureOrigin(origin)) throw Refusal("The origin " + quoted(origin) + " is not a secure origin");
  if (request.method == "bridge.grant") {
    requireArity(request.method, 2, request.args);
    const Argument &scope = request.args[0], &answer = request.args[1];
    if (!scope || !isScope(*scope)) throw Refusal("Not a consent scope");
    if (answer != "allow" && answer != "deny") throw Refusal("A consent is allow or deny");
    consent_.record(origin, *scope, *answer == "allow" ? Consent::Allowed : Consent::Denied);
    return *answer;
  }
  const Method* known = componentMethod(request.method);
  if (known == nullptr) throw Refusal("Unknown method " + quoted(request.method));
  requireArity(request.method, known->arity, request.args);
  if (known->arity == 3) return sign(request);
  const bool listing = request.method == "getCertListAsJson";
  const std::string scope = listing ? kListScope : kMessageScope;
  switch (consent_.of(origin, scope)) {
    case Consent::Allowed:
      if (listing) return component().call(request.method, request.args);
      component().showMessage("Message from " + origin, request.args[0].value_or(""));
      return "";
    case Consent::Denied:
      throw consentRefusal("The user has refused " + origin + " to " + scopeDescription(scope), "denied");
    default:
      throw consentRefusal("The user has not yet allowed " + origin + " to " + scopeDescription(scope), "ask",
                           {{"scope", scope}});
  }
}

// A signature goes ahead when the user allowed it this time or for ever for
// this origin and certificate, with the key's PIN prompt saying who asks;
// otherwise the user is asked, with the facts checked here: the thumbprint
// names one of the user's certificates.
std::string Host::sign(const Request& request) {
  if (!request.args[0]) throw Refusal(request.method + " needs something to sign");
  const Argument& thumbprint = request.args[1];
  if (!thumbprint || !isThumbprint(*thumbprint)) throw Refusal("The thumbprint is not 40 hexadecimal digits");
  const std::string scope = signScope(*thumbprint);
  json names = certificateNames(component(), scope);
  if (names.is_null()) throw Refusal("None of the user's certificates has the thumbprint " + *thumbprint);
  if (request.once || consent_.of(request.origin, scope) == Consent::Allowed) {
    component().announce(request.origin + " asks to sign with the certificate " +
                         names["subject"].get<std::string>() + ".");
    return component().call(request.method, request.args);
  }
  names["scope"] = scope;
  throw consentRefusal("The user has not yet allowed " + request.origin + " to " + scopeDescription(scope), "ask",
                       std::move(names));
}

Component& Host::component() {
  if (!component_) component_ = makeComponent_();
  return *component_;
}

}  // namespace bridge
