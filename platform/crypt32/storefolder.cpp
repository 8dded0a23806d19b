#include "crypt32/storefolder.h"

#include <dirent.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "crypt32/folderwatch.h"
#include "internal/descriptor.h"
#include "internal/gnutls_handles.h"
#include "internal/regularfile.h"
#include "internal/win32call.h"

namespace tv {

namespace {

// Larger files are not certificates worth reading.
constexpr size_t kMaximumFileSize = 16 * 1024 * 1024;

bool isBeingWritten(const std::string& name) {
  const size_t suffix = sizeof kWritingSuffix - 1;
  return name.size() > suffix && name.compare(name.size() - suffix, suffix, kWritingSuffix) == 0;
}

// The regular files of a folder (symbolic links followed), in name order.
// `ownContent` tells that every file's content can change only through this
// folder: no symbolic links (their targets change elsewhere), no file with
// other names elsewhere.
struct FolderFiles {
  std::vector<StoreFile> files;
  bool ownContent = true;
};

FolderFiles filesInOrder(const std::string& folder) {
  FolderFiles found;
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return found;
  const int fd = dirfd(directory);
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) continue;
    if (isBeingWritten(entry->d_name)) continue;
    if (entry->d_type != DT_REG) found.ownContent = false;
    struct stat info;
    if (fstatat(fd, entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
    if (info.st_nlink > 1) found.ownContent = false;
    found.files.push_back(StoreFile{entry->d_name, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim});
  }
  closedir(directory);
  std::sort(found.files.begin(), found.files.end(),
            [](const StoreFile& a, const StoreFile& b) { return a.name < b.name; });
  return found;
}

std::optional<std::string> readSmallFile(const std::string& path) {
  Descriptor fd(openRegularFile(path));
  std::string bytes;
  if (fd.get() < 0 || !readUpTo(fd.get(), kMaximumFileSize, bytes)) return std::nullopt;
  return bytes;
}

// The DER encodings of the certificates in a file: the file itself when it
// is DER, else every certificate of its PEM text.
// The certificates GnuTLS reads from a PEM text, released with the list.
class PemCertificates {
 public:
  explicit PemCertificates(const std::string& text) {
    gnutls_datum_t data = borrowedDatum(text.data(), text.size());
    if (gnutls_x509_crt_list_import2(&list_, &count_, &data, GNUTLS_X509_FMT_PEM, 0) < 0) list_ = nullptr, count_ = 0;
  }
  ~PemCertificates() {
    for (unsigned i = 0; i < count_; ++i) gnutls_x509_crt_deinit(list_[i]);
    gnutls_free(list_);
  }
  PemCertificates(const PemCertificates&) = delete;
  PemCertificates& operator=(const PemCertificates&) = delete;

  unsigned count() const { return count_; }
  gnutls_x509_crt_t operator[](unsigned i) const { return list_[i]; }

 private:
  gnutls_x509_crt_t* list_ = nullptr;
  unsigned count_ = 0;
};

std::vector<Bytes> encodingsIn(const std::string& bytes) {
  if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0x30)
    return {Bytes(bytes.begin(), bytes.end())};
  PemCertificates pem(bytes);
  std::vector<Bytes> encodings;
  for (unsigned i = 0; i < pem.count(); ++i) {
    GnutlsDatum der;
    if (gnutls_x509_crt_export2(pem[i], GNUTLS_X509_FMT_DER, der.out()) < 0) return {};
    encodings.push_back(der.bytes());
  }
  return encodings;
}

// Every certificate of a file, decoded, or none when any of them does not
// decode.
std::vector<std::shared_ptr<const DecodedCertificate>> certificatesIn(const std::string& bytes) {
  std::vector<std::shared_ptr<const DecodedCertificate>> certificates;
  try {
    for (const Bytes& der : encodingsIn(bytes)) certificates.push_back(decodeCertificate(der.data(), der.size()));
  } catch (const Win32Failure&) {
    certificates.clear();
  }
  return certificates;
}

// Modified more than a clock tick before now: a later write in the same
// tick as the last reading cannot have gone unseen.
bool isSettled(const timespec& modified) {
  constexpr time_t kClockTick = 2;  // seconds: the coarsest file time stamps in use
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return modified.tv_sec + kClockTick < now.tv_sec;
}

// A file as read now: the previous reading's entry while the file is the
// same and was settled then, else the file decoded anew.
std::shared_ptr<const FolderEntry> entryFor(const std::string& folder, StoreFile file,
                                            const std::shared_ptr<const FolderEntry>* previous) {
  if (previous != nullptr && (*previous)->settled && (*previous)->file.sameContentAs(file)) return *previous;
  auto entry = std::make_shared<FolderEntry>();
  entry->settled = isSettled(file.modified);
  entry->file = std::move(file);
  if (std::optional<std::string> bytes = readSmallFile(folder + "/" + entry->file.name))
    entry->certificates = certificatesIn(*bytes);
  return entry;
}

// Each certificate once, from the first file that holds it.
std::vector<ContextSeed> distinctCertificates(const std::vector<std::shared_ptr<const FolderEntry>>& entries) {
  std::vector<ContextSeed> certificates;
  std::set<Thumbprint> seen;
  for (const auto& entry : entries)
    for (const auto& decoded : entry->certificates) {
      ContextSeed seed = seedOf(*decoded);
      if (seen.insert(seed.sha1).second) certificates.push_back(seed);
    }
  return certificates;
}

// The last reading of each folder, and whether it is exact until the folder
// changes (a nonzero watch token).
class Readings {
 public:
  static Readings& instance() {
    static auto* readings = new Readings;  // never destroyed, like the contexts
    return *readings;
  }

  std::shared_ptr<const FolderSnapshot> read(const std::string& folder) {
    Remembered previous;
    {
      std::lock_guard<std::mutex> guard(lock_);
      previous = folders_[folder];
    }
    if (previous.snapshot && folderUnchangedSince(folder, previous.token)) return previous.snapshot;
    const FolderToken token = watchFolder(folder);  // before reading: a change while reading is caught
    FolderFiles found = filesInOrder(folder);
    static const std::vector<std::shared_ptr<const FolderEntry>> kNone;
    const auto& known = previous.snapshot ? previous.snapshot->entries : kNone;
    auto snapshot = std::make_shared<FolderSnapshot>();
    bool settled = true;
    auto next = known.begin();  // both lists are in name order
    for (StoreFile& file : found.files) {
      while (next != known.end() && (*next)->file.name < file.name) ++next;
      const bool same = next != known.end() && (*next)->file.name == file.name;
      snapshot->entries.push_back(entryFor(folder, std::move(file), same ? &*next : nullptr));
      settled = settled && snapshot->entries.back()->settled;
    }
    snapshot->certificates = distinctCertificates(snapshot->entries);
    std::lock_guard<std::mutex> guard(lock_);
    folders_[folder] = Remembered{snapshot, found.ownContent && settled ? token : 0};
    return snapshot;
  }

 private:
  struct Remembered {
    std::shared_ptr<const FolderSnapshot> snapshot;
    FolderToken token = 0;
  };

  std::mutex lock_;
  std::map<std::string, Remembered> folders_;
};

}  // namespace

std::shared_ptr<const FolderSnapshot> readStoreFolder(const std::string& folder) {
  return Readings::instance().read(folder);
}

}  // namespace tv
