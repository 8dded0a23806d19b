#include "advapi32/hive.h"

#include "internal/descriptor.h"
#include "internal/prefix.h"
#include "internal/regularfile.h"
#include "internal/win32call.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

namespace tv {

namespace {

std::string folder() { return platformPrefix() + "/registry"; }

std::string hivePath(Hive hive) { return folder() + (hive == Hive::Machine ? "/machine.reg" : "/user.reg"); }

// No hive is read or written past this size: a larger file is not one
// this stand-in wrote, and reading it whole would take the process down.
constexpr size_t kMaxHiveSize = 64 << 20;

// A writer's temporary file: the hive's name, this marker, six characters
// from mkostemp. Only names of this form are ever removed as leftovers.
constexpr char kTemporaryMarker[] = ".tellvane-write-";

std::u16string rootName(Hive hive) { return hive == Hive::Machine ? u"HKEY_LOCAL_MACHINE" : u"HKEY_CURRENT_USER"; }

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    require(n > 0, ERROR_CANTWRITE);
    done += static_cast<size_t>(n);
  }
}

std::unique_ptr<RegKey> parseFile(Hive hive, int fd) {
  std::string text;
  require(readUpTo(fd, kMaxHiveSize, text), ERROR_CANTREAD);
  return parseRegFile(text, rootName(hive));
}

// The hive's file, or -1 when there is none yet.
int openHive(const std::string& path) {
  const int fd = openRegularFile(path);
  require(fd >= 0 || errno == ENOENT, ERROR_CANTREAD);
  return fd;
}

// The last hive read from each file. Its file stays open, so that its inode
// cannot be given to a later version of the hive: a file with the same
// inode, size and time is then the same file (hives are replaced, never
// rewritten in place, and an edit in place changes the size or the time).
struct CachedHive {
  std::string path;
  std::unique_ptr<Descriptor> file;
  struct stat identity {};
  std::shared_ptr<const RegKey> root;
};

std::mutex cacheMutex;
CachedHive cache[2];

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

std::unique_ptr<RegKey> loadHive(Hive hive) {
  Descriptor file(openHive(hivePath(hive)));
  if (file.get() < 0) return std::make_unique<RegKey>(rootName(hive));
  return parseFile(hive, file.get());
}

std::shared_ptr<const RegKey> readHive(Hive hive) {
  std::string path = hivePath(hive);
  auto file = std::make_unique<Descriptor>(openHive(path));
  if (file->get() < 0) return std::make_shared<const RegKey>(rootName(hive));
  struct stat identity {};
  require(fstat(file->get(), &identity) == 0, ERROR_CANTREAD);
  CachedHive& cached = cache[hive == Hive::Machine ? 0 : 1];
  {
    std::lock_guard<std::mutex> guard(cacheMutex);
    if (cached.root && cached.path == path && sameFile(cached.identity, identity)) return cached.root;
  }
  std::shared_ptr<const RegKey> root = parseFile(hive, file->get());
  std::lock_guard<std::mutex> guard(cacheMutex);
  cached = CachedHive{path, std::move(file), identity, root};
  return root;
}

// Temporary files of a writer that died before renaming its file; only
// called under the hive's lock, when no other writer can be at work.
static void removeLeftovers(Hive hive) {
  std::string prefix = std::string(hive == Hive::Machine ? "machine.reg" : "user.reg") + kTemporaryMarker;
  DIR* dir = opendir(folder().c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
      unlinkat(dirfd(dir), name.c_str(), 0);
  }
  closedir(dir);
}

HiveLock::HiveLock(Hive hive) : hive_(hive), fd_(-1) {
  require(makeFolders(folder(), 0700), ERROR_CANTWRITE);
  std::string lockPath = hivePath(hive) + ".lock";
  Descriptor lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  require(lock.get() >= 0, ERROR_CANTWRITE);
  int rc;
  do rc = flock(lock.get(), LOCK_EX);
  while (rc != 0 && errno == EINTR);
  require(rc == 0, ERROR_CANTWRITE);
  fd_ = lock.release();
  removeLeftovers(hive);
}

HiveLock::~HiveLock() { close(fd_); }  // closing the descriptor releases the lock

void HiveLock::store(const RegKey& root) {
  std::string path = hivePath(hive_);
  std::string text = formatRegFile(root);
  // Written, it could not be read back.
  require(text.size() <= kMaxHiveSize, ERROR_CANTWRITE);
  std::string temporary = path + kTemporaryMarker + "XXXXXX";
  Descriptor file(mkostemp(temporary.data(), O_CLOEXEC));
  require(file.get() >= 0, ERROR_CANTWRITE);
  try {
    writeAll(file.get(), text);
    require(fsync(file.get()) == 0, ERROR_CANTWRITE);
    require(rename(temporary.c_str(), path.c_str()) == 0, ERROR_CANTWRITE);
  } catch (...) {
    unlink(temporary.c_str());
    throw;
  }
  // The rename itself reaches the disk with the folder.
  Descriptor dir(open(folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
}

}  // namespace tv
