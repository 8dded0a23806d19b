// The browser bridge's host as a browser's pipe feeds it: framed messages
// read in pieces of any size, each answered by the host, with a component
// that only echoes. Replies must stay within the browser's limit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "framing.h"
#include "host.h"
#include "temporaryprefix.h"

namespace {

struct EchoComponent : bridge::Component {
  std::string call(const std::string& method, const std::vector<bridge::Argument>& args) override {
    if (method == "getCertListAsJson")
      return R"({"success":true,"result":[{"Thumbprint":"00112233445566778899AABBCCDDEEFF00112233"}]})";
    return method + std::to_string(args.size());
  }
  void showMessage(const std::string&, const std::string&) override {}
  void announce(const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The consent record lives in a registry of its own.
  useTemporaryPrefix("bridge");
  bridge::ConsentStore store;
  for (const std::string scope : {"list", "message", "sign:00112233445566778899AABBCCDDEEFF00112233"})
    store.record("https://allowed.example", scope, bridge::Consent::Allowed);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the size of the pieces the input arrives in.
  const std::size_t piece = 1 + data[0] % 16;
  std::size_t offset = 1;
  bridge::FrameReader reader(
      [&](char* buffer, std::size_t wanted) {
        std::size_t count = std::min({wanted, piece, size - offset});
        std::memcpy(buffer, data + offset, count);
        offset += count;
        return count;
      },
      4096);
  bridge::ConsentStore consent;
  bridge::Host host(consent, [] { return std::make_unique<EchoComponent>(); });
  for (;;) {
    bridge::Frame frame = reader.next();
    if (frame.status == bridge::FrameStatus::Message) {
      if (host.reply(frame.body).size() > bridge::kReplyLimit) std::abort();
    } else if (frame.status != bridge::FrameStatus::TooLarge) {
      return 0;
    }
  }
}
