// The installed Windows host, tellvane-bridge.exe, driven under Wine through
// its standard input and output as a browser drives it. Run by
// scripts/test-windows-msi once the installer is installed:
//
//   TELLVANE_WINE           the Wine loader (wine64, or wine for the x86 host)
//   TELLVANE_WINDOWS_HOST   the installed host, a Windows path
//   TELLVANE_CERTIFICATES   the thumbprints the user's store holds, by spaces
//   TELLVANE_SIGNER         a thumbprint whose key signs, or empty
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "framing.h"
#include "host.h"
#include "support/process.h"
#include "support/tempprefix.h"

namespace {

using nlohmann::json;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

tvtest::ProgramRun runWindowsHost(const std::string& input) {
  return tvtest::runProgram(environment("TELLVANE_WINE"),
                            {environment("TELLVANE_WINDOWS_HOST"), "chrome-extension://test/"}, input);
}

tvtest::ProgramRun runLinuxHost(const std::string& input) {
  tvtest::TempPrefix prefix;
  return tvtest::runProgram(TV_BRIDGE_HOST, {"chrome-extension://test/"}, input);
}

std::string header(std::uint32_t length) { return std::string(reinterpret_cast<const char*>(&length), 4); }

std::string framed(const json& request) { return bridge::encodeFrame(request.dump()); }

// A version request padded with JSON white space (CR LF pairs, then a space)
// to exactly length bytes.
std::string paddedVersionRequest(std::size_t length) {
  std::string body = R"({"id":"pad","method":"bridge.version")";
  while (body.size() + 2 < length) body += "\r\n";
  if (body.size() + 1 < length) body += ' ';
  return bridge::encodeFrame(body + "}");
}

// A version request whose reply is exactly length bytes.
std::string versionRequestAnsweredIn(std::size_t length) {
  const std::size_t bare =
      json{{"id", ""}, {"protocol", bridge::kProtocolVersion}, {"result", TELLVANE_VERSION}}.dump().size();
  return framed({{"id", std::string(length - bare, 'r')}, {"method", "bridge.version"}});
}

json call(const std::string& origin, int id, const std::string& method, const json& args) {
  return {{"id", id}, {"origin", origin}, {"method", method}, {"args", args}};
}

// The replies in a host's output, in order.
std::vector<json> replies(const std::string& out) {
  std::vector<json> found;
  for (std::size_t at = 0; at + 4 <= out.size();) {
    std::uint32_t length;
    std::memcpy(&length, out.data() + at, 4);
    found.push_back(json::parse(out.substr(at + 4, length), nullptr, false));
    at += 4 + length;
  }
  return found;
}

// What does not depend on the component behaves exactly as on Linux: the
// same bytes out and the same exit code.
TEST(InstalledWindowsHost, AnswersAsTheLinuxHostDoes) {
  const std::string ask = "https://ask.example", deny = "https://deny.example";
  const struct {
    const char* name;
    std::string input;
  } cases[] = {
      {"consent not given, then refused",
       framed(call(ask, 1, "getCertListAsJson", {""})) + framed(call(deny, 2, "bridge.grant", {"list", "deny"})) +
           framed(call(deny, 3, "getCertListAsJson", {""}))},
      {"requests that are not the protocol's",
       bridge::encodeFrame("") + bridge::encodeFrame("[1]") + framed(call(ask, 4, "launch", json::array())) +
           framed({{"id", 5}, {"origin", "http://a.example"}, {"method", "showMessage"}, {"args", {"x"}}})},
      // Lengths whose bytes are CR LF (0x0A0D) and Ctrl-Z (0x11A), bodies with
      // CR LF, a reply whose length holds LF (0x10A): a host reading or
      // writing in text mode loses step.
      {"bytes that text mode translates",
       paddedVersionRequest(0x0A0D) + paddedVersionRequest(0x11A) + versionRequestAnsweredIn(0x10A)},
      {"an oversized frame is refused and skipped",
       header(bridge::kRequestLimit + 1) + std::string(bridge::kRequestLimit + 1, ' ') +
           framed({{"id", 6}, {"method", "bridge.version"}})},
      {"a torn frame ends the connection", framed({{"id", 7}, {"method", "bridge.version"}}) + header(10) + "{"},
      {"a length beyond the protocol ends the connection",
       framed({{"id", 8}, {"method", "bridge.version"}}) + header(bridge::kProtocolLimit + 1) + "{}" +
           framed({{"id", 9}, {"method", "bridge.version"}})},
  };
  for (const auto& c : cases) {
    const tvtest::ProgramRun linux = runLinuxHost(c.input);
    const tvtest::ProgramRun windows = runWindowsHost(c.input);
    EXPECT_EQ(windows.status, linux.status) << c.name << "\n" << windows.err;
    EXPECT_EQ(windows.out, linux.out) << c.name;
    EXPECT_FALSE(linux.out.empty()) << c.name;
  }
}

std::set<std::string> listedThumbprints(const json& envelope) {
  std::set<std::string> thumbprints;
  for (const json& certificate : envelope.at("result")) thumbprints.insert(certificate.at("Thumbprint"));
  return thumbprints;
}

// The installed component, reached by ProgID from the installed host.
TEST(InstalledWindowsHost, ListsAndSignsThroughTheInstalledComponent) {
  const std::string bank = "https://bank.example";
  const std::string signer = environment("TELLVANE_SIGNER");
  const std::string text = "Договор №1";
  std::string input =
      framed(call(bank, 0, "bridge.grant", {"list", "allow"})) + framed(call(bank, 1, "getCertListAsJson", {""}));
  json signing = call(bank, 2, "signString", {text, signer, ""});
  signing["consent"] = "once";  // the user allowed this signature
  if (!signer.empty()) input += framed(signing);

  const tvtest::ProgramRun run = runWindowsHost(input);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<json> answers = replies(run.out);
  ASSERT_EQ(answers.size(), signer.empty() ? 2u : 3u) << run.out;
  const json list = json::parse(answers[1].value("result", ""), nullptr, false);
  ASSERT_TRUE(list.is_object() && list["success"] == true) << answers[1];
  std::istringstream expected(environment("TELLVANE_CERTIFICATES"));
  EXPECT_EQ(listedThumbprints(list),
            std::set<std::string>(std::istream_iterator<std::string>(expected), std::istream_iterator<std::string>()));

  if (signer.empty()) {
    std::printf("Signing through the Windows host skipped: no test GOST provider is registered\n");
    return;
  }
  const json signature = json::parse(answers[2].value("result", ""), nullptr, false);
  ASSERT_TRUE(signature.is_object() && signature["success"] == true) << answers[2];
  const tvtest::ProgramRun verified =
      tvtest::runProgram(TELLVANE_COMMAND, {"verify", "--text", text, signature["result"]});
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
}

}  // namespace
