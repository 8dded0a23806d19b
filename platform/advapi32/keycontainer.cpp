#include "advapi32/keycontainer.h"

#include <winerror.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "internal/descriptor.h"
#include "internal/prefix.h"
#include "internal/regularfile.h"
#include "internal/win32call.h"
#include "tvplatform.h"

namespace tv {

namespace {

constexpr const char* kPrivateFile = "private.pem";
constexpr const char* kPublicFile = "public.der";
constexpr size_t kMaxKeyFile = 1 << 20;

std::string containerFolder(const std::string& name) {
  if (!isValidContainerName(name)) fail(NTE_BAD_KEYSET);
  return keysFolder() + "/" + name;
}

// Opens a key file without following a symbolic link or blocking; a
// missing file, or something else than a file in its place, is a missing
// keyset.
int openKeyFile(const std::string& path) {
  const int fd = openRegularFile(path, O_NOFOLLOW);
  if (fd < 0) fail(errno == ENOENT || errno == ENOTDIR || errno == EINVAL ? NTE_BAD_KEYSET : NTE_PERM);
  return fd;
}

std::string readAll(int fd) {
  std::string bytes;
  if (!readUpTo(fd, kMaxKeyFile, bytes)) fail(NTE_BAD_KEYSET);
  return bytes;
}

void writeNewFile(const std::string& path, const void* data, size_t size) {
  Descriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) fail(errno == EEXIST ? NTE_EXISTS : NTE_PERM);
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = write(fd.get(), bytes + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) fail(NTE_FAIL);
    done += static_cast<size_t>(wrote);
  }
  // The umask may have taken bits away, never added any; make it exact.
  if (fchmod(fd.get(), 0600) != 0) fail(NTE_PERM);
}

}  // namespace

std::string keysFolder() { return platformPrefix() + "/keys"; }

bool isValidContainerName(const std::string& name) {
  return !name.empty() && name.size() < 256 && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::vector<std::string> listContainers() {
  std::vector<std::string> names;
  DIR* folder = opendir(keysFolder().c_str());
  if (folder == nullptr) return names;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (!isValidContainerName(name)) continue;
    struct stat info;
    if (stat((keysFolder() + "/" + name + "/" + kPublicFile).c_str(), &info) == 0 && S_ISREG(info.st_mode))
      names.push_back(name);
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  return names;
}

bool containerExists(const std::string& name) {
  if (!isValidContainerName(name)) return false;
  struct stat info;
  return stat(containerFolder(name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Bytes readPublicKeyFile(const std::string& name) {
  Descriptor fd(openKeyFile(containerFolder(name) + "/" + kPublicFile));
  const std::string bytes = readAll(fd.get());
  return Bytes(bytes.begin(), bytes.end());
}

std::string readPrivateKeyFile(const std::string& name) {
  Descriptor fd(openKeyFile(containerFolder(name) + "/" + kPrivateFile));
  struct stat info;
  if (fstat(fd.get(), &info) != 0) fail(NTE_BAD_KEYSET);
  if ((info.st_mode & 077) != 0 || info.st_uid != geteuid()) fail(NTE_PERM);
  return readAll(fd.get());
}

void createContainer(const std::string& name, const std::string& privatePem, const Bytes& publicDer) {
  const std::string folder = containerFolder(name);
  if (!makeFolders(keysFolder(), 0700)) fail(NTE_PERM);
  if (mkdir(folder.c_str(), 0700) != 0) fail(errno == EEXIST ? NTE_EXISTS : NTE_PERM);
  if (chmod(folder.c_str(), 0700) != 0) fail(NTE_PERM);
  try {
    writeNewFile(folder + "/" + kPrivateFile, privatePem.data(), privatePem.size());
    writeNewFile(folder + "/" + kPublicFile, publicDer.data(), publicDer.size());
  } catch (...) {
    // No half-made container is left behind.
    unlink((folder + "/" + kPrivateFile).c_str());
    unlink((folder + "/" + kPublicFile).c_str());
    rmdir(folder.c_str());
    throw;
  }
}

void removeContainer(const std::string& name) {
  const std::string folder = containerFolder(name);
  if (!containerExists(name)) fail(NTE_BAD_KEYSET);
  // The private key goes first: what is left without it can sign nothing.
  for (const char* file : {kPrivateFile, kPublicFile}) {
    if (unlink((folder + "/" + file).c_str()) != 0 && errno != ENOENT) fail(NTE_PERM);
  }
  // Files of someone else's left in the folder keep it; it holds no key now.
  if (rmdir(folder.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST) fail(NTE_PERM);
}

}  // namespace tv

WINBASEAPI BOOL WINAPI TvCreateKeyContainer(LPCSTR name, LPCSTR privateKeyPem, const BYTE* publicKeyDer,
                                            DWORD cbPublicKeyDer) {
  return tv::win32Bool([&] {
    tv::require(name != nullptr && privateKeyPem != nullptr && publicKeyDer != nullptr && cbPublicKeyDer != 0);
    tv::createContainer(name, privateKeyPem, tv::Bytes(publicKeyDer, publicKeyDer + cbPublicKeyDer));
  });
}
