// System certificate stores: a store is a folder of certificate files under
// <prefix>/certstores/user/<store>/ or …/machine/<store>/. Opening reads
// every file of the folder, in file-name order, into the store, so a store
// holds what was on disk when it was opened.
#include "crypt32/certcontext.h"
#include "internal/descriptor.h"
#include "crypt32/folderwatch.h"
#include "internal/gnutls_handles.h"
#include "internal/utf.h"
#include "internal/prefix.h"
#include "internal/regularfile.h"
#include "internal/win32call.h"

#include <tvplatform.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unordered_map>

namespace tv {

namespace {

namespace fs = std::filesystem;

// The stores Windows gives every user, which exist before anything is put
// into them.
const char* const kStandardStores[] = {"My",            "Root",           "CA",
                                       "Trust",         "AddressBook",    "TrustedPeople",
                                       "TrustedPublisher", "Disallowed"};

// Larger files are not certificates worth reading.
constexpr size_t kMaximumFileSize = 16 * 1024 * 1024;

struct StoreRecord {
  std::mutex lock;                           // a handle may be enumerated and added to at once
  std::vector<PCCERT_CONTEXT> certificates;  // one reference each while the store is open
  std::string folder;                        // where added certificates are kept
  bool readOnly = false;
};

struct OpenStores {
  std::mutex lock;
  std::unordered_map<HCERTSTORE, std::shared_ptr<StoreRecord>> stores;
};

OpenStores& openStores() {
  static OpenStores* instance = new OpenStores;  // never destroyed, like the contexts
  return *instance;
}

std::shared_ptr<StoreRecord> findStore(HCERTSTORE handle) {
  OpenStores& open = openStores();
  std::lock_guard<std::mutex> guard(open.lock);
  auto found = open.stores.find(handle);
  if (found == open.stores.end()) fail(static_cast<DWORD>(E_INVALIDARG));
  return found->second;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

bool isStandardStore(const std::string& name) {
  return std::any_of(std::begin(kStandardStores), std::end(kStandardStores),
                     [&](const char* standard) { return equalIgnoringCase(name, standard); });
}

// The store name as a folder name; names that cannot be one folder are
// refused rather than allowed to reach outside the location.
std::string storeFolderName(const void* para) {
  require(para != nullptr);
  const WCHAR* wide = static_cast<const WCHAR*>(para);
  std::string name = toUtf8(wide, wideLength(wide));
  require(!name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos,
          ERROR_INVALID_NAME);
  return name;
}

std::string locationFolder(DWORD flags) {
  switch (flags & CERT_SYSTEM_STORE_LOCATION_MASK) {
    case CERT_SYSTEM_STORE_CURRENT_USER:
      return platformPrefix() + "/certstores/user";
    case CERT_SYSTEM_STORE_LOCAL_MACHINE:
      return platformPrefix() + "/certstores/machine";
    default:
      fail(ERROR_INVALID_PARAMETER);
  }
}

// The folder of a store: an exact match first, else the first folder (in
// name order) whose name differs only in case.
std::optional<std::string> findStoreFolder(const std::string& location, const std::string& name) {
  std::error_code error;
  std::vector<std::string> matches;
  for (fs::directory_iterator it(location, error), end; !error && it != end; it.increment(error)) {
    std::string entry = it->path().filename().string();
    if (equalIgnoringCase(entry, name) && it->is_directory(error)) matches.push_back(entry);
  }
  if (matches.empty()) return std::nullopt;
  std::sort(matches.begin(), matches.end());
  auto exact = std::find(matches.begin(), matches.end(), name);
  return location + "/" + (exact != matches.end() ? *exact : matches.front());
}

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

// The regular files of a folder (symbolic links followed), in name order.
// `ownContent` tells that every file's content can change only through this
// folder: no symbolic links (their targets change elsewhere), no file with
// other names elsewhere.
struct FolderFiles {
  std::vector<StoreFile> files;
  bool ownContent = true;
};

// A certificate being added is written under a temporary name and renamed
// into place: until then it is not in the store, and an opening that saw it
// there could be followed by one that, reading the folder during the
// rename, sees it under neither name. The suffix is one no other program
// uses, so a user's own files are never passed over.
constexpr char kWritingSuffix[] = ".tellvane-adding";

bool isBeingWritten(const std::string& name) {
  const size_t suffix = sizeof kWritingSuffix - 1;
  return name.size() > suffix && name.compare(name.size() - suffix, suffix, kWritingSuffix) == 0;
}

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

// What the files of the store folders held when last read, so that opening
// a store decodes only the files that changed since. A file is read again
// when its device, inode, size or modification time differ, and while its
// modification time is too recent to tell a later write in the same clock
// tick apart. While the folder is watched and no event came, nothing is
// checked at all.
class DecodedFiles {
 public:
  struct Entry {
    StoreFile file;
    bool settled = false;  // modified well before it was read
    std::vector<std::shared_ptr<const DecodedCertificate>> certificates;  // empty: not a certificate file
  };

  // A folder as read: its files in name order and the certificates they
  // hold, each once, from the first file that holds it. A Windows store
  // holds a certificate once (it is kept by its hash), and a page shown one
  // certificate twice could not tell the two apart.
  struct Snapshot {
    std::vector<std::shared_ptr<const Entry>> entries;
    std::vector<ContextSeed> certificates;
  };

  static DecodedFiles& instance() {
    static auto* files = new DecodedFiles;  // never destroyed, like the contexts
    return *files;
  }

  // The folder as it is now; the folder's remembered snapshot becomes this.
  std::shared_ptr<const Snapshot> read(const std::string& folder) {
    Remembered previous;
    {
      std::lock_guard<std::mutex> guard(lock_);
      previous = folders_[folder];
    }
    if (previous.snapshot && folderUnchangedSince(folder, previous.token)) return previous.snapshot;
    const FolderToken token = watchFolder(folder);  // before reading: a change while reading is caught
    auto snapshot = std::make_shared<Snapshot>();
    bool settled = true;
    FolderFiles found = filesInOrder(folder);
    static const std::vector<std::shared_ptr<const Entry>> kNone;
    const auto& known = previous.snapshot ? previous.snapshot->entries : kNone;
    auto next = known.begin();  // both lists are in name order
    for (StoreFile& file : found.files) {
      while (next != known.end() && (*next)->file.name < file.name) ++next;
      if (next != known.end() && (*next)->settled && (*next)->file.name == file.name &&
          (*next)->file.sameContentAs(file)) {
        snapshot->entries.push_back(*next);
        continue;
      }
      auto entry = std::make_shared<Entry>();
      entry->settled = isSettled(file.modified);
      settled = settled && entry->settled;
      entry->file = std::move(file);
      std::optional<std::string> bytes = readSmallFile(folder + "/" + entry->file.name);
      if (bytes) entry->certificates = certificatesIn(*bytes);
      snapshot->entries.push_back(std::move(entry));
    }
    std::set<Thumbprint> seen;
    for (const auto& entry : snapshot->entries)
      for (const auto& decoded : entry->certificates) {
        ContextSeed seed = seedOf(*decoded);
        if (seen.insert(seed.sha1).second) snapshot->certificates.push_back(seed);
      }
    std::lock_guard<std::mutex> guard(lock_);
    folders_[folder] = Remembered{snapshot, found.ownContent && settled ? token : 0};
    return snapshot;
  }

 private:
  struct Remembered {
    std::shared_ptr<const Snapshot> snapshot;
    FolderToken token = 0;  // nonzero: the snapshot is exact until the folder changes
  };

  static bool isSettled(const timespec& modified) {
    constexpr time_t kClockTick = 2;  // seconds: the coarsest file time stamps in use
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return modified.tv_sec + kClockTick < now.tv_sec;
  }

  std::mutex lock_;
  std::map<std::string, Remembered> folders_;
};

void loadFolder(const std::string& folder, HCERTSTORE handle, const std::shared_ptr<StoreRecord>& record) {
  const auto snapshot = DecodedFiles::instance().read(folder);
  for (const auto& entry : snapshot->entries)
    if (entry->certificates.empty())
      OutputDebugStringA(("crypt32: skipped " + folder + "/" + entry->file.name + ": not a certificate file").c_str());
  // The contexts share the snapshot's hold on their certificates: one count
  // that stays in the cache, not one in each certificate.
  record->certificates.reserve(snapshot->certificates.size());
  for (const ContextSeed& seed : snapshot->certificates)
    record->certificates.push_back(createCertificateContext(seed, snapshot, handle, record, record->certificates.size()));
}

HCERTSTORE openSystemStore(DWORD flags, const void* para) {
  std::string name = storeFolderName(para);
  std::string location = locationFolder(flags);
  std::optional<std::string> folder = findStoreFolder(location, name);
  if (folder && (flags & CERT_STORE_CREATE_NEW_FLAG)) fail(ERROR_FILE_EXISTS);
  if (!folder && !isStandardStore(name)) {
    if (flags & CERT_STORE_OPEN_EXISTING_FLAG) fail(ERROR_FILE_NOT_FOUND);
    if (!makeFolders(location + "/" + name, 0700)) fail(ERROR_ACCESS_DENIED);
    folder = location + "/" + name;
  }

  auto record = std::make_shared<StoreRecord>();
  record->folder = folder ? *folder : location + "/" + name;
  record->readOnly = (flags & CERT_STORE_READONLY_FLAG) != 0;
  HCERTSTORE handle = record.get();
  try {
    if (folder) loadFolder(*folder, handle, record);
    OpenStores& open = openStores();
    std::lock_guard<std::mutex> guard(open.lock);
    open.stores.emplace(handle, record);
  } catch (...) {
    for (PCCERT_CONTEXT context : record->certificates) releaseCertificateContext(context);
    throw;
  }
  return handle;
}

void closeStore(HCERTSTORE handle) {
  std::shared_ptr<StoreRecord> record;
  {
    OpenStores& open = openStores();
    std::lock_guard<std::mutex> guard(open.lock);
    auto found = open.stores.find(handle);
    if (found == open.stores.end()) fail(static_cast<DWORD>(E_INVALIDARG));
    record = std::move(found->second);
    open.stores.erase(found);
  }
  // Contexts still referenced elsewhere stay alive (and keep the record).
  std::vector<PCCERT_CONTEXT> certificates;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    certificates = std::move(record->certificates);
  }
  for (PCCERT_CONTEXT context : certificates) releaseCertificateContext(context);
}

PCCERT_CONTEXT nextCertificate(HCERTSTORE handle, PCCERT_CONTEXT previous) {
  std::shared_ptr<StoreRecord> record = findStore(handle);
  size_t next = 0;
  if (previous != nullptr) {
    next = positionInStore(previous, handle) + 1;
  }
  std::lock_guard<std::mutex> guard(record->lock);
  if (next >= record->certificates.size()) fail(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  return duplicateHeldContext(record->certificates[next]);
}

std::string hexOf(const Thumbprint& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (BYTE b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

// Writes the file whole or not at all: a reader never sees half a certificate.
void writeCertificateFile(const std::string& folder, PCCERT_CONTEXT context) {
  if (!makeFolders(folder, 0700)) fail(ERROR_ACCESS_DENIED);
  const std::string path = folder + "/" + hexOf(certificateSha1(context)) + ".cer";
  const std::string temporary = path + kWritingSuffix;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded);
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      fail(ERROR_WRITE_FAULT);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    fail(ERROR_WRITE_FAULT);
  }
}

// Adds a certificate to an open store and to its folder, so that the stores
// opened afterwards hold it too. Returns the store's context, referenced.
PCCERT_CONTEXT addCertificate(HCERTSTORE handle, const BYTE* encoded, DWORD size, DWORD disposition) {
  std::shared_ptr<StoreRecord> record = findStore(handle);
  require(disposition >= CERT_STORE_ADD_NEW && disposition <= CERT_STORE_ADD_REPLACE_EXISTING);
  require(encoded != nullptr && size != 0, static_cast<DWORD>(CRYPT_E_ASN1_EOD));
  if (record->readOnly) fail(ERROR_ACCESS_DENIED);
  PCCERT_CONTEXT added = createCertificateContext(encoded, size);
  std::lock_guard<std::mutex> guard(record->lock);
  try {
    // The same hash is the same encoding: replacing would change nothing.
    for (PCCERT_CONTEXT held : record->certificates) {
      if (certificateSha1(held) != certificateSha1(added)) continue;
      if (disposition == CERT_STORE_ADD_NEW) fail(static_cast<DWORD>(CRYPT_E_EXISTS));
      releaseCertificateContext(added);
      return duplicateCertificateContext(held);
    }
    writeCertificateFile(record->folder, added);
  } catch (...) {
    releaseCertificateContext(added);
    throw;
  }
  attachToStore(added, handle, record, record->certificates.size());
  record->certificates.push_back(added);
  return duplicateCertificateContext(added);
}

// Takes a certificate out of its store's folder: every file that holds it
// alone is deleted, so that stores opened afterwards lack it. A file that
// holds other certificates too is not rewritten; the deletion then fails
// with ERROR_ACCESS_DENIED. Handles open now keep what they loaded.
void deleteCertificate(PCCERT_CONTEXT context) {
  requireCertificateContext(context);
  HCERTSTORE handle = owningStore(context);
  require(handle != nullptr, static_cast<DWORD>(E_INVALIDARG));
  std::shared_ptr<StoreRecord> record = findStore(handle);
  if (record->readOnly) fail(ERROR_ACCESS_DENIED);
  const Thumbprint hash = certificateSha1(context);
  bool shared = false;
  for (const StoreFile& file : filesInOrder(record->folder).files) {
    const std::string path = record->folder + "/" + file.name;
    std::optional<std::string> bytes = readSmallFile(path);
    if (!bytes) continue;
    const auto held = certificatesIn(*bytes);
    const bool holds = std::any_of(held.begin(), held.end(), [&](const auto& decoded) {
      PCCERT_CONTEXT c = createCertificateContext(decoded);
      const bool same = certificateSha1(c) == hash;
      releaseCertificateContext(c);
      return same;
    });
    if (!holds) continue;
    if (held.size() > 1)
      shared = true;
    else if (std::remove(path.c_str()) != 0)
      fail(ERROR_ACCESS_DENIED);
  }
  if (shared) fail(ERROR_ACCESS_DENIED);
}

}  // namespace

}  // namespace tv

WINCRYPT32API HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                              HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara) {
  (void)dwEncodingType;  // system stores hold certificates of any encoding
  (void)hCryptProv;
  return tv::win32Value<HCERTSTORE>(nullptr, [&] {
    tv::require(lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W, ERROR_CALL_NOT_IMPLEMENTED);
    return tv::openSystemStore(dwFlags, pvPara);
  });
}

WINBASEAPI void WINAPI TvWatchStoreFolders(BOOL watch) { tv::setFolderWatching(watch != FALSE); }

WINCRYPT32API BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  (void)dwFlags;
  if (hCertStore == nullptr) return TRUE;
  return tv::win32Bool([&] { tv::closeStore(hCertStore); });
}

WINCRYPT32API PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                                PCCERT_CONTEXT pPrevCertContext) {
  PCCERT_CONTEXT next = tv::win32Value<PCCERT_CONTEXT>(
      nullptr, [&] { return tv::nextCertificate(hCertStore, pPrevCertContext); });
  // The previous context is released on every path, as Windows does; the
  // last error stays that of the enumeration.
  if (pPrevCertContext != nullptr) {
    DWORD error = GetLastError();
    CertFreeCertificateContext(pPrevCertContext);
    SetLastError(error);
  }
  return next;
}

WINCRYPT32API BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                           const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                                           DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext) {
  return tv::win32Bool([&] {
    tv::require(dwCertEncodingType & X509_ASN_ENCODING, static_cast<DWORD>(E_INVALIDARG));
    PCCERT_CONTEXT added = tv::addCertificate(hCertStore, pbCertEncoded, cbCertEncoded, dwAddDisposition);
    if (ppCertContext != nullptr)
      *ppCertContext = added;
    else
      tv::releaseCertificateContext(added);
  });
}

WINCRYPT32API BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
  const BOOL deleted = tv::win32Bool([&] { tv::deleteCertificate(pCertContext); });
  // The context is freed on every path, as Windows does; the last error
  // stays that of the deletion.
  if (pCertContext != nullptr) {
    DWORD error = GetLastError();
    CertFreeCertificateContext(pCertContext);
    SetLastError(error);
  }
  return deleted;
}
