// `tellvane trace`: shows the debug output of every process that uses the
// stand-in, as a debug-output viewer does on Windows.
#include "commands.h"
#include "options.h"

#include <tvplatform.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tool {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// Prints one debug string as one line: the trace's own "\r\n" (written by
// formatted lines) is not doubled.
void printLine(const char* text, size_t length) {
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  std::fwrite(text, 1, length, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int runTrace(const Arguments& args) {
  parseArguments(args, {});
  const char* path = TvDebugOutputSocketPath();
  if (path == nullptr) {
    std::fprintf(stderr, "tellvane trace: no private folder for the debug-output socket\n");
    return 1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof(address.sun_path)) {
    std::fprintf(stderr, "tellvane trace: socket path too long: %s\n", path);
    return 1;
  }
  std::strcpy(address.sun_path, path);

  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::perror("tellvane trace: socket");
    return 1;
  }
  unlink(path);  // a socket file left by a viewer that did not exit cleanly
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::perror("tellvane trace: bind");
    close(fd);
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::fprintf(stderr, "Listening on %s; Ctrl+C to stop.\n", path);

  static char buffer[65536];
  while (!stopRequested) {
    const ssize_t received = recv(fd, buffer, sizeof(buffer), 0);
    if (received < 0) {
      if (errno == EINTR) continue;
      std::perror("tellvane trace: recv");
      break;
    }
    printLine(buffer, static_cast<size_t>(received));
  }
  close(fd);
  unlink(path);
  return 0;
}

}  // namespace tool
