#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "hoststdio.h"

namespace bridge::hoststdio {

// A browser started from the desktop may give its host no standard error:
// then what is written to standard output goes nowhere.
Channel takeChannel() {
  Channel channel{_dup(0), _dup(1)};
  int nothing = _open("NUL", _O_RDWR | _O_BINARY);
  if (channel.input < 0 || channel.output < 0 || nothing < 0 || _setmode(channel.input, _O_BINARY) < 0 ||
      _setmode(channel.output, _O_BINARY) < 0 || _dup2(nothing, 0) < 0 || (_dup2(2, 1) < 0 && _dup2(nothing, 1) < 0)) {
    std::perror("tellvane-bridge");
    std::exit(1);
  }
  _close(nothing);
  return channel;
}

std::size_t readSome(int input, char* buffer, std::size_t size) {
  int got = _read(input, buffer, static_cast<unsigned>(size < INT_MAX ? size : INT_MAX));
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

bool writeAll(int output, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    int put = _write(output, bytes.data() + done, static_cast<unsigned>(left < INT_MAX ? left : INT_MAX));
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// Windows has no SIGPIPE (a write to a closed pipe fails), and the component
// converts its texts with the system's code pages, not the C locale.
void prepareProcess() {}

}  // namespace bridge::hoststdio
