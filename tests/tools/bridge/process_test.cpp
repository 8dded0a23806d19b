// The tellvane-bridge program as a browser runs it: a stream of framed
// requests on standard input, one connection, the component registered for
// the user (or not) in a temporary prefix.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "framing.h"
#include "support/comtest.h"
#include "support/process.h"
#include "support/tempprefix.h"

namespace {

using nlohmann::json;

struct HostRun {
  std::vector<json> replies;
  int status;
};

std::string framed(const json& request) { return bridge::encodeFrame(request.dump()); }

std::string header(std::uint32_t length) { return std::string(reinterpret_cast<const char*>(&length), 4); }

// Runs the host on the input and reads back every reply it wrote.
HostRun runHost(const std::string& input) {
  const tvtest::ProgramRun program = tvtest::runProgram(TV_BRIDGE_HOST, {"chrome-extension://test/"}, input);
  HostRun run{{}, program.status};
  for (std::size_t at = 0; at + 4 <= program.out.size();) {
    std::uint32_t length;
    std::memcpy(&length, program.out.data() + at, 4);
    run.replies.push_back(json::parse(program.out.substr(at + 4, length)));
    at += 4 + length;
  }
  return run;
}

const json kAllow = {
    {"id", "consent"}, {"origin", "https://bank.example"}, {"method", "bridge.grant"}, {"args", {"list", "allow"}}};

json call(int id, const std::string& method, const std::vector<std::string>& args) {
  return {{"id", id}, {"origin", "https://bank.example"}, {"method", method}, {"args", args}};
}

TEST(BridgeHost, ServesManyRequestsOnOneConnectionUntilALengthBeyondTheProtocol) {
  tvtest::TempPrefix prefix;
  HMODULE component = LoadLibraryW(
      std::u16string(TV_TELLVANE_COMPONENT, TV_TELLVANE_COMPONENT + std::strlen(TV_TELLVANE_COMPONENT)).c_str());
  ASSERT_NE(component, nullptr);
  ASSERT_EQ(comtest::serverExport<HRESULT (*)(BOOL, LPCWSTR)>(component, "DllInstall")(TRUE, u"user"), S_OK);
  FreeLibrary(component);

  std::string input = framed(kAllow);
  for (int id = 0; id < 100; ++id) input += framed(call(id, "getCertListAsJson", {""}));
  input += framed(call(100, "signString", {"text", std::string(40, '0'), ""}));
  json nullThumbprint = call(200, "signHash", {});
  nullThumbprint["args"] = {"AAAA", nullptr, nullptr};
  input += framed(nullThumbprint);
  input += header(bridge::kRequestLimit + 1) + std::string(bridge::kRequestLimit + 1, ' ');
  input += framed(call(101, "getCertListAsJson", {""})) + header(bridge::kProtocolLimit + 1) + "{}";
  input += framed(call(102, "getCertListAsJson", {""}));  // never read

  HostRun run = runHost(input);
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(run.replies.size(), 105u);
  for (int id = 0; id < 100; ++id)
    EXPECT_EQ(run.replies[1 + id], (json{{"id", id}, {"result", R"({"success":true,"result":[]})"}}));
  EXPECT_EQ(run.replies[101], (json{{"id", 100},
                                    {"error", "None of the user's certificates has the thumbprint " + std::string(40, '0')},
                                    {"code", "TELLVANE_BAD_REQUEST"}}));
  EXPECT_EQ(run.replies[102]["error"], "The thumbprint is not 40 hexadecimal digits");
  EXPECT_EQ(run.replies[103], (json{{"id", nullptr},
                                    {"error", "The message is larger than the 8 MiB the host accepts"},
                                    {"code", "TELLVANE_BAD_REQUEST"}}));
  EXPECT_EQ(run.replies[104]["id"], 101);
}

TEST(BridgeHost, ReportsAnUnregisteredComponentAndKeepsServing) {
  tvtest::TempPrefix prefix;
  HostRun run = runHost(framed(kAllow) + framed(call(1, "getCertListAsJson", {""})) +
                                    framed(call(2, "getCertListAsJson", {""})) + header(2) + "{");
  EXPECT_EQ(run.status, 1);  // the last message is torn
  ASSERT_EQ(run.replies.size(), 3u);
  for (int id : {1, 2})
    EXPECT_EQ(run.replies[id],
              (json{{"id", id}, {"error", "finding Tellvane.Signer32: 0x800401F3 Invalid class string"}}));
}

}  // namespace
