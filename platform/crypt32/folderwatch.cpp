// Folder watches over one inotify instance per process.
#include "crypt32/folderwatch.h"

#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace tv {

namespace {

// Every change to a folder's entries and their contents, and the folder
// itself going away from under the watch.
constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                             IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// File systems whose every change passes through this kernel; on network
// and user-space ones a change made elsewhere raises no event.
bool isLocalFileSystem(const std::string& folder) {
  struct statfs info;
  if (statfs(folder.c_str(), &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

bool identify(const std::string& folder, struct stat& info) { return stat(folder.c_str(), &info) == 0; }

class Watches {
 public:
  static Watches& instance() {
    static auto* watches = new Watches;  // never destroyed: stores may open during static destruction
    return *watches;
  }

  FolderToken watch(const std::string& folder) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!ready()) return 0;
    drain();
    // The folder's identity before and after the watch is added: the same
    // both times, the watch is on that folder and not on one that replaced it.
    struct stat before, after;
    if (!isLocalFileSystem(folder) || !identify(folder, before)) return 0;
    const int descriptor = inotify_add_watch(fd_, folder.c_str(), kEvents);
    if (descriptor < 0) return 0;
    if (!identify(folder, after) || after.st_dev != before.st_dev || after.st_ino != before.st_ino) return 0;
    Watch& watched = watches_[folder];
    if (watched.descriptor != descriptor || watched.device != after.st_dev || watched.inode != after.st_ino)
      watched = Watch{descriptor, after.st_dev, after.st_ino, ++lastToken_};
    return watched.token;
  }

  bool unchangedSince(const std::string& folder, FolderToken token) {
    if (token == 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (!ready()) return false;
    drain();
    auto found = watches_.find(folder);
    if (found == watches_.end() || found->second.descriptor < 0 || found->second.token != token) return false;
    // A folder above it renamed or replaced raises no event on the folder.
    struct stat info;
    return identify(folder, info) && info.st_dev == found->second.device && info.st_ino == found->second.inode;
  }

  void enable(bool on) {
    std::lock_guard<std::mutex> guard(lock_);
    enabled_ = on;
  }

 private:
  struct Watch {
    int descriptor = -1;  // -1 once the kernel dropped the watch
    dev_t device = 0;
    ino_t inode = 0;
    FolderToken token = 0;  // changes with every event on the folder
  };

  // The instance, made on first use and again in a forked child: reading
  // the parent's would take its events away from it.
  bool ready() {
    if (!enabled_) return false;
    const pid_t pid = getpid();
    if (pid != owner_) {
      if (fd_ >= 0) close(fd_);
      watches_.clear();
      fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      owner_ = pid;
    }
    return fd_ >= 0;
  }

  void changed(Watch& watch) { watch.token = ++lastToken_; }

  // Every queued event: its folder has changed. A lost event (queue
  // overflow, a failed read) may have been about any folder.
  void drain() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t size = read(fd_, buffer, sizeof buffer);
      if (size < 0 && errno == EINTR) continue;
      if (size < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (size <= 0) {
        for (auto& entry : watches_) changed(entry.second);
        return;
      }
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= size;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        for (auto& entry : watches_) {
          if ((event->mask & IN_Q_OVERFLOW) == 0 && entry.second.descriptor != event->wd) continue;
          changed(entry.second);
          if (event->mask & IN_IGNORED) entry.second.descriptor = -1;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  std::mutex lock_;
  bool enabled_ = true;
  pid_t owner_ = 0;
  int fd_ = -1;
  FolderToken lastToken_ = 0;
  std::map<std::string, Watch> watches_;
};

}  // namespace

FolderToken watchFolder(const std::string& folder) { return Watches::instance().watch(folder); }

bool folderUnchangedSince(const std::string& folder, FolderToken token) {
  return Watches::instance().unchangedSince(folder, token);
}

void setFolderWatching(bool on) { Watches::instance().enable(on); }

}  // namespace tv
