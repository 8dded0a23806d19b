// System certificate stores: a store is a folder of certificate files under
// <prefix>/certstores/user/<store>/ or …/machine/<store>/. Opening reads
// every file of the folder, in file-name order, into the store, so a store
// holds what was on disk when it was opened.
#include "crypt32/store.h"

#include "crypt32/certcontext.h"
#include "crypt32/folderwatch.h"
#include "crypt32/keylink.h"
#include "crypt32/storefolder.h"
#include "internal/descriptor.h"
#include "internal/hex.h"
#include "internal/prefix.h"
#include "internal/utf.h"
#include "internal/win32call.h"

#include <tvplatform.h>
#include <wincrypt.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace tv {

namespace {

namespace fs = std::filesystem;

// The stores Windows gives every user, which exist before anything is put
// into them.
const char* const kStandardStores[] = {"My",            "Root",           "CA",
                                       "Trust",         "AddressBook",    "TrustedPeople",
                                       "TrustedPublisher", "Disallowed"};

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

void loadFolder(const std::string& folder, HCERTSTORE handle, const std::shared_ptr<StoreRecord>& record) {
  const auto snapshot = readStoreFolder(folder);
  for (const auto& entry : snapshot->entries)
    if (entry->certificates.empty())
      OutputDebugStringA(("crypt32: skipped " + folder + "/" + entry->file.name + ": not a certificate file").c_str());
  // The contexts share the snapshot's hold on their certificates: one count
  // that stays in the cache, not one in each certificate.
  record->certificates.reserve(snapshot->certificates.size());
  for (const ContextSeed& seed : snapshot->certificates)
    record->certificates.push_back(createCertificateContext(
        seed, std::shared_ptr<const DecodedCertificate>(snapshot, seed.decoded), handle, record,
        record->certificates.size()));
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

// Writes the file whole or not at all: a reader never sees half a certificate.
void writeCertificateFile(const std::string& folder, PCCERT_CONTEXT context) {
  if (!makeFolders(folder, 0700)) fail(ERROR_ACCESS_DENIED);
  const Thumbprint& sha1 = certificateSha1(context);
  writeWholeFile(folder + "/" + hexText(sha1.data(), sha1.size()) + ".cer", kWritingSuffix, context->pbCertEncoded,
                 context->cbCertEncoded);
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
  // The folder as it is now; files unchanged since the last reading are not decoded again.
  for (const auto& entry : readStoreFolder(record->folder)->entries) {
    const auto& held = entry->certificates;
    if (std::none_of(held.begin(), held.end(), [&](const auto& decoded) { return seedOf(*decoded).sha1 == hash; }))
      continue;
    if (held.size() > 1)
      shared = true;
    else if (std::remove((record->folder + "/" + entry->file.name).c_str()) != 0)
      fail(ERROR_ACCESS_DENIED);
  }
  if (shared) fail(ERROR_ACCESS_DENIED);
  removeKeyLinkFile(record->folder, context);
}

}  // namespace

void writeWholeFile(const std::string& path, const std::string& temporarySuffix, const BYTE* data, size_t size) {
  std::string temporary = path + ".XXXXXX" + temporarySuffix;
  Descriptor fd(mkstemps(temporary.data(), static_cast<int>(temporarySuffix.size())));
  if (fd.get() < 0) fail(ERROR_WRITE_FAULT);
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = write(fd.get(), data + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  if (done != size || close(fd.release()) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    fail(ERROR_WRITE_FAULT);
  }
}

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
