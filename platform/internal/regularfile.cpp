#include "internal/regularfile.h"

#include "internal/descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tv {

int openRegularFile(const std::string& path, int extraFlags) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | extraFlags));
  if (fd.get() < 0) return -1;
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return -1;
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  return fd.release();
}

bool readUpTo(int fd, size_t maxSize, std::string& bytes) {
  bytes.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (static_cast<size_t>(got) > maxSize - bytes.size()) return false;
    bytes.append(buffer, static_cast<size_t>(got));
  }
}

bool isRegularFile(const std::string& path) {
  Descriptor fd(openRegularFile(path));
  return fd.get() >= 0;
}

}  // namespace tv
