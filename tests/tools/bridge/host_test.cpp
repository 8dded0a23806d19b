// The host's answers to requests, with the consent record in a temporary
// prefix and a component that echoes its calls.
#include "host.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "framing.h"
#include "support/tempprefix.h"

namespace {

using nlohmann::json;

struct EchoComponent : bridge::Component {
  explicit EchoComponent(int* calls) : calls(calls) {}
  std::string call(const std::string& method, const std::vector<bridge::Argument>& args) override {
    ++*calls;
    if (args[0] == "huge") return std::string(bridge::kReplyLimit, 'x');
    std::string text = "{\"called\":\"" + method + "\"";
    for (const bridge::Argument& arg : args) text += arg ? ",\"" + *arg + "\"" : ",null";
    return text + "}";
  }
  int* calls;
};

class HostTest : public ::testing::Test {
 protected:
  std::string ask(const std::string& request) { return host.reply(request); }
  json answer(const std::string& request) { return json::parse(ask(request)); }

  tvtest::TempPrefix prefix;
  bridge::ConsentStore consent;
  int calls = 0;
  int made = 0;
  bridge::Host host{consent, [this]() -> std::unique_ptr<bridge::Component> {
                      if (++made == 1) throw std::runtime_error("Class not registered");
                      return std::make_unique<EchoComponent>(&calls);
                    }};
};

const char kCall[] = R"({"id":7,"origin":"https://bank.example","method":"signString","args":["text","AB",null]})";

TEST_F(HostTest, RefusesWhatIsNotARequestAndKeepsServing) {
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
  };
  for (const auto& c : cases) EXPECT_EQ(answer(c.request), (json{{"id", c.id}, {"error", c.error}})) << c.request;
  EXPECT_EQ(answer(R"({"id":9,"method":"bridge.version"})"), (json{{"id", 9}, {"result", TELLVANE_VERSION}}));
  EXPECT_EQ(calls, 0);
}

TEST_F(HostTest, CallsTheComponentOnlyForAnAllowedOrigin) {
  EXPECT_EQ(answer(kCall)["consent"], "ask");
  ask(R"({"id":1,"origin":"https://bank.example","method":"bridge.deny"})");
  EXPECT_EQ(answer(kCall)["consent"], "denied");
  EXPECT_EQ(calls, 0);

  EXPECT_EQ(answer(R"({"id":1,"origin":"https://bank.example","method":"bridge.allow"})")["result"], "allow");
  // The first attempt to make the component fails and is reported; the next succeeds.
  EXPECT_EQ(answer(kCall), (json{{"id", 7}, {"error", "Class not registered"}}));
  EXPECT_EQ(answer(kCall), (json{{"id", 7}, {"result", R"({"called":"signString","text","AB",null})"}}));
  EXPECT_EQ(answer(R"({"id":8,"origin":"https://bank.example","method":"showMessage","args":["huge"]})"),
            (json{{"id", 8}, {"error", "The answer is larger than the 1 MiB a browser accepts from its host"}}));
  EXPECT_EQ(answer(R"({"id":9,"origin":"https://other.example","method":"showMessage","args":["x"]})")["consent"],
            "ask");
  EXPECT_EQ(calls, 2);
}

TEST(ConsentStore, KeepsOneAnswerPerOriginUntilRevoked) {
  tvtest::TempPrefix prefix;
  bridge::ConsentStore store;
  store.record("http://127.0.0.1:8080", bridge::Consent::Allowed);
  store.record("https://shop.example", bridge::Consent::Allowed);
  store.record("https://shop.example", bridge::Consent::Denied);
  EXPECT_EQ(store.of("http://127.0.0.1:8081"), bridge::Consent::Unasked);
  EXPECT_EQ(store.of("https://shop.example"), bridge::Consent::Denied);
  EXPECT_TRUE(store.revoke("https://shop.example"));
  EXPECT_FALSE(store.revoke("https://shop.example"));
  ASSERT_EQ(store.list().size(), 1u);
  EXPECT_EQ(store.list()[0].origin, "http://127.0.0.1:8080");
}

TEST(ConsentStore, KnowsASecureOrigin) {
  for (const char* origin : {"https://a.example:8443", "http://localhost:3000", "http://127.0.0.1", "http://[::1]:80"})
    EXPECT_TRUE(bridge::isSecureOrigin(origin)) << origin;
  for (const char* origin : {"http://a.example", "https://", "https://a.example/", "https://a.example:99999x",
                             "http://127.0.0.2", "https://A.example", "http://localhost.evil.example"})
    EXPECT_FALSE(bridge::isSecureOrigin(origin)) << origin;
}

}  // namespace
