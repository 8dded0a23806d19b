// tellvane-bridge: the native messaging host through which a browser
// extension reaches the component. The browser starts one process per
// connection and speaks to it over standard input and output.
#include <cstdio>

#include "framing.h"
#include "host.h"
#include "hoststdio.h"

namespace {

using bridge::hoststdio::Channel;

// Serves requests until the browser closes the connection; returns the exit code.
int serve(const Channel& channel) {
  bridge::ConsentStore consent;
  bridge::Host host(consent, bridge::makeSignerComponent);
  bridge::FrameReader reader(
      [&](char* buffer, std::size_t size) { return bridge::hoststdio::readSome(channel.input, buffer, size); });
  for (;;) {
    bridge::Frame frame = reader.next();
    std::string reply;
    switch (frame.status) {
      case bridge::FrameStatus::Message:
        reply = host.reply(frame.body);
        break;
      case bridge::FrameStatus::TooLarge:
        reply = bridge::Host::refuseOversized();
        break;
      case bridge::FrameStatus::End:
        return 0;
      case bridge::FrameStatus::Torn:
        std::fprintf(stderr, "tellvane-bridge: the connection ended inside a message\n");
        return 1;
      case bridge::FrameStatus::Excessive:
        std::fprintf(stderr, "tellvane-bridge: a message length above the protocol's limit; closing\n");
        return 1;
    }
    if (!bridge::hoststdio::writeAll(channel.output, bridge::encodeFrame(reply))) return 0;  // the browser has gone
  }
}

}  // namespace

int main() {
  Channel channel = bridge::hoststdio::takeChannel();
  bridge::hoststdio::prepareProcess();
  return serve(channel);
}
