// The host's answers to requests, with the consent record in a temporary
// prefix and a component that echoes its calls and holds one certificate.
#include "host.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "framing.h"
#include "support/tempprefix.h"

namespace {

using nlohmann::json;

const char kThumbprint[] = "00112233445566778899AABBCCDDEEFF00112233";

struct EchoComponent : bridge::Component {
  explicit EchoComponent(std::vector<std::string>* calls) : calls(calls) {}
  std::string call(const std::string& method, const std::vector<bridge::Argument>& args) override {
    if (method == "getCertListAsJson" && args[0] == "")
      return json{{"success", true},
                  {"result",
                   {{{"Thumbprint", kThumbprint},
                     {"DistinguishedName", "CN=Signer"},
                     {"IssuerDistinguishedName", "CN=Issuer"}}}}}
          .dump();
    if (args[0] == "huge") return std::string(bridge::kReplyLimit, 'x');
    std::string text = method;
    for (const bridge::Argument& arg : args) text += arg ? " " + *arg : " null";
    calls->push_back(text);
    return text;
  }
  void showMessage(const std::string& title, const std::string& text) override {
    calls->push_back("box " + title + ": " + text);
  }
  void announce(const std::string& purpose) override { calls->push_back(purpose); }
  std::vector<std::string>* calls;
};

class HostTest : public ::testing::Test {
 protected:
  json answer(const json& request) { return json::parse(host.reply(request.dump())); }
  json call(const std::string& method, const std::vector<bridge::Argument>& args, const char* consent = nullptr) {
    json request = {{"id", 7}, {"origin", "https://bank.example"}, {"method", method}, {"args", json::array()}};
    for (const bridge::Argument& arg : args) request["args"].push_back(arg ? json(*arg) : json());
    if (consent != nullptr) request["consent"] = consent;
    return answer(request);
  }
  json grant(const std::string& scope, const std::string& consent) { return call("bridge.grant", {scope, consent}); }

  tvtest::TempPrefix prefix;
  bridge::ConsentStore consent;
  std::vector<std::string> calls;
  int made = 0;
  bridge::Host host{consent, [this]() -> std::unique_ptr<bridge::Component> {
                      if (++made == 1) throw std::runtime_error("Class not registered");
                      return std::make_unique<EchoComponent>(&calls);
                    }};
};

TEST_F(HostTest, RefusesWhatIsNotARequestAndKeepsServing) {
  const std::string sign = R"(,"origin":"https://a","method":"signString","args":)";
  const struct {
    std::string request;
    json id;
    const char* error;
  } cases[] = {
      {"", nullptr, "The message is not JSON"},
      {"[1]", nullptr, "The message is not a JSON object"},
      {R"({"id":{},"method":"signHash"})", nullptr, "The request's \"id\" is neither a number nor a short text"},
      {R"({"id":2,"origin":"https://a.example","method":"launch"})", 2, "Unknown method 'launch'"},
      {R"({"id":3,"origin":"https://a","method":"signHash","args":["a","b"]})", 3, "signHash takes 3 arguments, not 2"},
      {R"({"id":4,"origin":"https://a","method":"showMessage","args":[5]})", 4, "Argument 1 is neither a text nor null"},
      {R"({"id":5,"method":"getCertListAsJson","args":[""]})", 5, "The request names no origin"},
      {R"({"id":6,"origin":"http://a.example","method":"getCertListAsJson","args":[""]})", 6,
       "The origin 'http://a.example' is not a secure origin"},
      {R"({"id":7)" + sign + R"(["a","It is safe to press Allow",""]})", 7, "The thumbprint is not 40 hexadecimal digits"},
      {R"({"id":8)" + sign + R"(["a",null,""]})", 8, "The thumbprint is not 40 hexadecimal digits"},
      {R"({"id":9)" + sign + R"([null,")" + kThumbprint + R"(",""]})", 9, "signString needs something to sign"},
      {R"({"id":10,"origin":"https://a","method":"bridge.grant","args":["everything","allow"]})", 10,
       "Not a consent scope"},
      {R"({"id":11,"origin":"https://a","method":"bridge.grant","args":["list","always"]})", 11,
       "A consent is allow or deny"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(json::parse(host.reply(c.request)), (json{{"id", c.id}, {"error", c.error}, {"code", "TELLVANE_BAD_REQUEST"}}))
        << c.request;
  EXPECT_EQ(answer({{"id", 9}, {"method", "bridge.version"}}),
            (json{{"id", 9}, {"result", TELLVANE_VERSION}, {"protocol", bridge::kProtocolVersion}}));
  EXPECT_EQ(json::parse(bridge::Host::refuseOversized())["code"], "TELLVANE_BAD_REQUEST");
  EXPECT_TRUE(calls.empty());
}

TEST_F(HostTest, AsksForListingMessagesAndEachCertificateSeparately) {
  const json listAsk = call("getCertListAsJson", {""});
  EXPECT_EQ(listAsk["consent"], "ask");
  EXPECT_EQ(listAsk["prompt"], (json{{"scope", "list"}}));
  // The first attempt to make the component fails and is reported, without a code of the page's.
  EXPECT_EQ(call("signString", {"text", kThumbprint, ""}), (json{{"id", 7}, {"error", "Class not registered"}}));
  const json signAsk = call("signString", {"text", std::string(kThumbprint).replace(0, 2, "0a"), ""});
  EXPECT_EQ(signAsk["error"], "None of the user's certificates has the thumbprint 0a112233445566778899AABBCCDDEEFF00112233");

  EXPECT_EQ(grant("list", "allow")["result"], "allow");
  EXPECT_EQ(call("getCertListAsJson", {""})["result"].get<std::string>().find("CN=Signer") != std::string::npos, true);
  // Listing grants nothing else: a signature asks, naming the certificate the host found.
  const std::string lower = "00112233445566778899aabbccddeeff00112233";
  const json ask = call("signHash", {"AAAA", lower, ""});
  EXPECT_EQ(ask["consent"], "ask");
  EXPECT_EQ(ask["prompt"], (json{{"scope", std::string("sign:") + kThumbprint},
                                 {"subject", "CN=Signer"},
                                 {"issuer", "CN=Issuer"}}));
  EXPECT_EQ(call("showMessage", {"hi"})["prompt"], (json{{"scope", "message"}}));

  // This time only: the call carries the user's answer and the next one asks again.
  EXPECT_EQ(call("signHash", {"AAAA", lower, ""}, "once")["result"], "signHash AAAA " + lower + " ");
  EXPECT_EQ(call("signString", {"b", kThumbprint, ""})["consent"], "ask");
  // Always, for this certificate, whichever case the page writes its thumbprint in.
  grant(std::string("sign:") + kThumbprint, "allow");
  EXPECT_EQ(call("signString", {"b", lower, ""})["result"], "signString b " + lower + " ");
  EXPECT_EQ(call("signString", {"b", std::string(40, 'F'), ""})["error"],
            "None of the user's certificates has the thumbprint " + std::string(40, 'F'));

  grant("message", "allow");
  EXPECT_EQ(call("showMessage", {"hi"}), (json{{"id", 7}, {"result", ""}}));
  EXPECT_EQ(call("showMessage", {"huge"})["result"], "");
  grant("list", "deny");
  EXPECT_EQ(call("getCertListAsJson", {""})["consent"], "denied");
  EXPECT_EQ(call("getCertListAsJson", {"huge"})["consent"], "denied");
  const std::string purpose = "https://bank.example asks to sign with the certificate CN=Signer.";
  EXPECT_EQ(calls, (std::vector<std::string>{purpose, "signHash AAAA " + lower + " ", purpose,
                                             "signString b " + lower + " ",
                                             "box Message from https://bank.example: hi",
                                             "box Message from https://bank.example: huge"}));
  grant("list", "allow");
  EXPECT_EQ(call("getCertListAsJson", {"huge"})["error"],
            "The answer is larger than the 1 MiB a browser accepts from its host");
}

TEST(ConsentStore, KeepsOneAnswerPerOriginAndScopeUntilRevoked) {
  tvtest::TempPrefix prefix;
  bridge::ConsentStore store;
  const std::string sign = bridge::signScope(std::string(40, 'a'));
  EXPECT_EQ(sign, "sign:" + std::string(40, 'A'));
  store.record("http://127.0.0.1:8080", "list", bridge::Consent::Allowed);
  store.record("https://shop.example", sign, bridge::Consent::Allowed);
  store.record("https://shop.example", "list", bridge::Consent::Allowed);
  store.record("https://shop.example", "list", bridge::Consent::Denied);
  EXPECT_EQ(store.of("http://127.0.0.1:8081", "list"), bridge::Consent::Unasked);
  EXPECT_EQ(store.of("http://127.0.0.1:8080", sign), bridge::Consent::Unasked);
  EXPECT_EQ(store.of("https://shop.example", "list"), bridge::Consent::Denied);
  EXPECT_EQ(store.of("https://shop.example", sign), bridge::Consent::Allowed);
  EXPECT_EQ(store.list().size(), 3u);
  EXPECT_THROW(store.record("https://shop.example", "sign:" + std::string(40, 'a'), bridge::Consent::Allowed),
               std::invalid_argument);
  EXPECT_TRUE(store.revoke("https://shop.example"));
  EXPECT_FALSE(store.revoke("https://shop.example"));
  ASSERT_EQ(store.list().size(), 1u);
  EXPECT_EQ(store.list()[0].origin, "http://127.0.0.1:8080");
  EXPECT_EQ(store.list()[0].scope, "list");
}

TEST(ConsentStore, ReadsAnEarlierAllOrNothingAnswerAsListingAlone) {
  tvtest::TempPrefix prefix;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Tellvane\\Bridge\\Origins\\https://old.example", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char16_t allow[] = u"allow";
  RegSetValueExW(key, u"Consent", 0, REG_SZ, reinterpret_cast<const BYTE*>(allow), sizeof allow);
  RegCloseKey(key);
  bridge::ConsentStore store;
  EXPECT_EQ(store.of("https://old.example", "list"), bridge::Consent::Allowed);
  EXPECT_EQ(store.of("https://old.example", "message"), bridge::Consent::Unasked);
  EXPECT_EQ(store.of("https://old.example", bridge::signScope(std::string(40, '1'))), bridge::Consent::Unasked);
  ASSERT_EQ(store.list().size(), 1u);
  store.record("https://old.example", "list", bridge::Consent::Denied);
  EXPECT_EQ(store.of("https://old.example", "list"), bridge::Consent::Denied);
  EXPECT_EQ(store.list().size(), 1u);
}

TEST(ConsentStore, KnowsASecureOriginAndWritesTimesInUtc) {
  for (const char* origin : {"https://a.example:8443", "http://localhost:3000", "http://127.0.0.1", "http://[::1]:8080"})
    EXPECT_TRUE(bridge::isSecureOrigin(origin)) << origin;
  for (const char* origin : {"http://a.example", "https://", "https://a.example/", "https://a.example:99999x",
                             "http://127.0.0.2", "https://A.example", "http://localhost.evil.example",
                             "https://a.example:443", "http://localhost:080", "https://a.example:65536"})
    EXPECT_FALSE(bridge::isSecureOrigin(origin)) << origin;
  EXPECT_EQ(bridge::utcText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(bridge::utcText(951782400), "2000-02-29T00:00:00Z");
  EXPECT_EQ(bridge::utcText(1796610600), "2026-12-07T02:30:00Z");
  EXPECT_EQ(bridge::utcText(-1), "1969-12-31T23:59:59Z");
}

}  // namespace
