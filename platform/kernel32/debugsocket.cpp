// kernel32: the datagram side of the debug output.
#include "kernel32/debugsocket.h"

#include "internal/prefix.h"

#include <tvplatform.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

extern char** environ;

namespace {

// A datagram larger than the socket buffer is refused, so long texts go as
// several datagrams of this size.
const size_t kMaxDatagram = 64 * 1024;

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

int senderSocket() {
  static const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  return fd;
}

// The last folder found private, so a steady stream of output costs one
// send each and not a stat as well. Kept alive for tracing from static
// destructors.
bool folderChecked(const std::string& folder) {
  static auto* lock = new std::mutex;
  static auto* checkedFolder = new std::string;
  std::lock_guard<std::mutex> guard(*lock);
  if (folder == *checkedFolder) return true;
  if (!tv::debugSocketFolderIsPrivate(folder + "/")) return false;
  *checkedFolder = folder;
  return true;
}

// After a send finds no viewer at a path, this thread's sends to that path
// pause for a moment: tracing with nobody listening then costs a few reads
// of memory and a clock read, with no lock and no allocation, and a viewer
// that starts receives everything written from this long after.
constexpr long long kQuietNanoseconds = 20'000'000;

// What a thread remembers between lines. Trivially destructible, for
// tracing from static destructors and exiting threads.
struct ThreadState {
  // Where $XDG_RUNTIME_DIR was found in the environment array (see
  // runtimeVariable).
  char** environment;
  size_t slot;        // the variable's index, or the array's length when absent
  const char* entry;  // the variable's "name=value", or null when absent
  const char* last;   // the array's last entry when the variable is absent
  // The quiet: the path is told by $XDG_RUNTIME_DIR alone (the fallback is
  // fixed for the process), so it remembers that value.
  char quietRuntime[sizeof(sockaddr_un::sun_path)];  // "" for the fallback
  long long quietUntil;                              // nanoseconds of the monotonic clock
};
thread_local ThreadState state{};

// The coarse clock (a few milliseconds' steps) is the cheapest to read.
long long nowNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// $XDG_RUNTIME_DIR as getenv finds it, without walking the environment on
// every line. setenv, putenv and unsetenv either replace the array, or
// change the pointer in the variable's slot, or (adding or removing another
// variable) change the slot at the array's end or the one before it; the C
// library only ever grows the array it owns, so the remembered slots stay
// inside it while its address is the same.
const char* runtimeVariable(ThreadState& s) {
  constexpr char kName[] = "XDG_RUNTIME_DIR=";
  constexpr size_t kNameLength = sizeof kName - 1;
  char** const environment = environ;
  if (environment == nullptr) return nullptr;
  const bool same = environment == s.environment &&
                    (s.entry != nullptr ? environment[s.slot] == s.entry &&
                                              std::strncmp(s.entry, kName, kNameLength) == 0
                                        : environment[s.slot] == nullptr &&
                                              (s.slot == 0 || environment[s.slot - 1] == s.last));
  if (!same) {
    size_t at = 0;
    while (environment[at] != nullptr && std::strncmp(environment[at], kName, kNameLength) != 0) ++at;
    s.environment = environment;
    s.slot = at;
    s.entry = environment[at];
    s.last = at > 0 ? environment[at - 1] : nullptr;
  }
  return s.entry != nullptr ? s.entry + kNameLength : nullptr;
}

// $XDG_RUNTIME_DIR when it is used for the socket, else null.
const char* runtimeFolder(ThreadState& s = state) {
  const char* runtime = runtimeVariable(s);
  return runtime != nullptr && runtime[0] == '/' ? runtime : nullptr;
}

bool isQuiet(const ThreadState& s, const char* runtime) {
  if (nowNanoseconds() >= s.quietUntil) return false;
  return runtime == nullptr ? s.quietRuntime[0] == '\0' : std::strcmp(s.quietRuntime, runtime) == 0;
}

void startQuiet(ThreadState& s, const char* runtime) {
  const char* value = runtime != nullptr ? runtime : "";
  if (std::strlen(value) >= sizeof s.quietRuntime) return;  // no socket path is that long
  std::strcpy(s.quietRuntime, value);
  s.quietUntil = nowNanoseconds() + kQuietNanoseconds;
}

std::string socketPathIn(const char* runtime) {
  if (runtime != nullptr) return std::string(runtime) + "/tellvane-debug.sock";
  // The system's temporary folder, not $TMPDIR: every process of the user
  // must meet the viewer at the same place. Made once: asking for the user
  // costs a system call, more than the rest of a trace line.
  static const std::string* fallback =
      new std::string(std::string(P_tmpdir) + "/tellvane-" + std::to_string(getuid()) + "/debug.sock");
  return *fallback;
}

}  // namespace

namespace tv {

std::string debugSocketPath() { return socketPathIn(runtimeFolder()); }

bool debugSocketFolderIsPrivate(const std::string& socketPath) {
  struct stat info;
  if (lstat(folderOf(socketPath).c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

void sendDebugDatagram(const char* text) {
  ThreadState& s = state;  // one look-up of the thread's variables
  const char* runtime = runtimeFolder(s);
  if (isQuiet(s, runtime)) return;
  const std::string path = socketPathIn(runtime);
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = senderSocket();
  if (fd < 0) return;
  if (!folderChecked(folderOf(path))) {
    startQuiet(s, runtime);  // no viewer can be there
    return;
  }
  size_t length = std::strlen(text);
  do {
    const size_t piece = length < kMaxDatagram ? length : kMaxDatagram;
    if (sendto(fd, text, piece, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
               sizeof(address)) < 0) {
      // A full queue is a slow viewer, not a missing one.
      if (errno == ENOENT || errno == ECONNREFUSED) startQuiet(s, runtime);
      return;
    }
    text += piece;
    length -= piece;
  } while (length > 0);
}

}  // namespace tv

WINBASEAPI const char* WINAPI TvDebugOutputSocketPath(void) {
  thread_local std::string path;
  path = tv::debugSocketPath();
  // The fallback folder in the temporary folder is made here, for the viewer that binds.
  if (path.rfind(std::string(P_tmpdir) + "/tellvane-", 0) == 0) tv::makeFolders(folderOf(path), 0700);
  return tv::debugSocketFolderIsPrivate(path) ? path.c_str() : nullptr;
}
