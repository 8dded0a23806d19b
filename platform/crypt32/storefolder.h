// The one reading of a store's folder: its certificate files, decoded,
// remembered between openings so that only files that changed are decoded
// again. Opening a store and deleting from it both read the folder here.
//
// The cache's rules: a file is decoded again when its device, inode, size,
// modification or status-change time differ, and while its modification
// time is too recent to tell a later write in the same clock tick apart
// (see isSettled). While the folder is watched (folderwatch.h), holds only
// its own files and no event came, nothing is checked at all.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "crypt32/certcontext.h"

namespace tv {

// A regular file of a store folder and what identifies its content.
struct StoreFile {
  std::string name;
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  timespec changed;  // status change: set by every write, rename and time change, never by hand

  bool sameContentAs(const StoreFile& other) const {
    auto same = [](const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    return device == other.device && inode == other.inode && size == other.size && same(modified, other.modified) &&
           same(changed, other.changed);
  }
};

// A certificate being added is written under a temporary name and renamed
// into place: until then it is not in the store, and an opening that saw it
// there could be followed by one that, reading the folder during the
// rename, sees it under neither name. The suffix is one no other program
// uses, so a user's own files are never passed over.
constexpr char kWritingSuffix[] = ".tellvane-adding";

// A file of the folder and the certificates it holds.
struct FolderEntry {
  StoreFile file;
  bool settled = false;  // modified well before it was read
  std::vector<std::shared_ptr<const DecodedCertificate>> certificates;  // empty: not a certificate file
};

// A folder as read: its files in name order and the certificates they
// hold, each once, from the first file that holds it. A Windows store
// holds a certificate once (it is kept by its hash), and a page shown one
// certificate twice could not tell the two apart.
struct FolderSnapshot {
  std::vector<std::shared_ptr<const FolderEntry>> entries;
  std::vector<ContextSeed> certificates;
};

// The folder as it is now; a missing folder is an empty one.
std::shared_ptr<const FolderSnapshot> readStoreFolder(const std::string& folder);

}  // namespace tv
