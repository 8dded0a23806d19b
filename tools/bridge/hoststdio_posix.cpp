#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hoststdio.h"

namespace bridge::hoststdio {

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

std::size_t readSome(int input, char* buffer, std::size_t size) {
  for (;;) {
    ssize_t got = read(input, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool writeAll(int output, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = write(output, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

void prepareProcess() {
  std::signal(SIGPIPE, SIG_IGN);
  std::setlocale(LC_ALL, "");
  if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) std::setlocale(LC_ALL, "C.UTF-8");
}

}  // namespace bridge::hoststdio
