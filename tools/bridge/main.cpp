// tellvane-bridge: the native messaging host through which a browser
// extension reaches the component. The browser starts one process per
// connection and speaks to it over standard input and output.
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framing.h"
#include "host.h"

namespace {

// The protocol's two streams, taken away from descriptors 0 and 1 so that
// nothing the component or a library prints can corrupt a message: what is
// written to standard output goes to the browser's log instead.
struct Channel {
  int input;
  int output;
};

Channel takeChannel() {
  Channel channel{dup(STDIN_FILENO), dup(STDOUT_FILENO)};
  int nothing = open("/dev/null", O_RDONLY);
  if (channel.input < 0 || channel.output < 0 || nothing < 0 || dup2(nothing, STDIN_FILENO) < 0 ||
      dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::perror("tellvane-bridge");
    std::exit(1);
  }
  close(nothing);
  return channel;
}

std::size_t readSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    ssize_t got = read(fd, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// Serves requests until the browser closes the connection; returns the exit code.
int serve(const Channel& channel) {
  bridge::ConsentStore consent;
  bridge::Host host(consent, bridge::makeSignerComponent);
  bridge::FrameReader reader([&](char* buffer, std::size_t size) { return readSome(channel.input, buffer, size); });
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
    if (!writeAll(channel.output, bridge::encodeFrame(reply))) return 0;  // the browser has gone
  }
}

}  // namespace

int main() {
  Channel channel = takeChannel();
  std::signal(SIGPIPE, SIG_IGN);
  // The component's 8-bit texts follow the locale's character set; prefer
  // UTF-8 over a bare C locale, as the tellvane command does.
  std::setlocale(LC_ALL, "");
  if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) std::setlocale(LC_ALL, "C.UTF-8");
  return serve(channel);
}
