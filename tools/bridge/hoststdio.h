// What the host needs from its operating system, in one place: the
// browser's two streams as raw bytes, and the process set up to serve them.
// hoststdio_posix.cpp and hoststdio_windows.cpp implement it; the rest of the
// host is the same source on both.
#pragma once

#include <cstddef>
#include <string>

namespace bridge::hoststdio {

// The protocol's two streams, taken away from standard input and output so
// that nothing the component or a library prints can corrupt a message: what
// is written to standard output goes to standard error (the browser's log)
// instead. On Windows both are in binary mode, so that no CR, LF or Ctrl-Z in
// a length or a message is translated. Exits the process when it cannot.
struct Channel {
  int input;
  int output;
};
Channel takeChannel();

// Up to size bytes from the input; 0 at its end or on a failure.
std::size_t readSome(int input, char* buffer, std::size_t size);
// All the bytes, or false when the browser has gone.
bool writeAll(int output, const std::string& bytes);

// A write to a closed pipe is a failed write, not the end of the process;
// the component's 8-bit texts follow a UTF-8 locale rather than a bare C one.
void prepareProcess();

}  // namespace bridge::hoststdio
