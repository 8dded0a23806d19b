#include "advapi32/keyindex.h"

#include <winerror.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

#include "internal/descriptor.h"
#include "advapi32/keycontainer.h"
#include "internal/prefix.h"
#include "internal/regularfile.h"
#include "internal/win32call.h"

namespace tv {

namespace {

constexpr const char* kHeader = "tellvane key index 1";

std::string indexPath() { return platformPrefix() + "/keys.index"; }

std::string hexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> fromHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = nibble(text[i]), low = nibble(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high << 4 | low);
  }
  return bytes;
}

// The keys folder's modification time: a container made or removed changes it.
std::string folderStamp() {
  struct stat info;
  if (stat(keysFolder().c_str(), &info) != 0) return std::string();
  return std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

using Index = std::map<std::string, std::string>;  // key identity -> container name

// The index's lines after the header and stamp; none when one is malformed.
std::optional<Index> parseEntries(std::istream& in) {
  Index index;
  std::string line;
  while (std::getline(in, line)) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) return std::nullopt;
    std::optional<std::string> key = fromHex(line.substr(0, blank));
    std::optional<std::string> name = fromHex(line.substr(blank + 1));
    if (!key || !name) return std::nullopt;
    index.emplace(*key, *name);
  }
  return index;
}

// The index file as last parsed. The file is only ever replaced whole
// (renamed into place), so while the same file is there its content is the
// same; and what it names is checked before use in any case.
struct ParsedIndex {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  std::string stamp;
  std::shared_ptr<const Index> index;  // null when the file was malformed
};

bool sameFile(const ParsedIndex& parsed, const std::string& path, const struct stat& info) {
  return parsed.path == path && parsed.device == info.st_dev && parsed.inode == info.st_ino &&
         parsed.size == info.st_size && parsed.modified.tv_sec == info.st_mtim.tv_sec &&
         parsed.modified.tv_nsec == info.st_mtim.tv_nsec;
}

// The index when it is there, well-formed and made for the folder as it is.
std::shared_ptr<const Index> readIndex(const std::string& stamp) {
  static auto* lock = new std::mutex;
  static auto* last = new ParsedIndex;  // never destroyed: keys may be used during static destruction
  const std::string path = indexPath();
  Descriptor fd(openRegularFile(path));
  struct stat info;
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) return nullptr;
  {
    std::lock_guard<std::mutex> guard(*lock);
    if (sameFile(*last, path, info)) return last->stamp == stamp ? last->index : nullptr;
  }
  constexpr size_t kMaximumSize = 16 * 1024 * 1024;
  std::string content;
  if (!readUpTo(fd.get(), kMaximumSize, content)) return nullptr;
  std::istringstream in(content);
  std::string header, fileStamp;
  std::shared_ptr<const Index> index;
  if (std::getline(in, header) && header == kHeader && std::getline(in, fileStamp))
    if (std::optional<Index> entries = parseEntries(in)) index = std::make_shared<const Index>(std::move(*entries));
  std::lock_guard<std::mutex> guard(*lock);
  *last = ParsedIndex{path, info.st_dev, info.st_ino, info.st_size, info.st_mtim, fileStamp, index};
  return fileStamp == stamp ? index : nullptr;
}

// Written whole or not at all; an index that cannot be written is no loss.
void writeIndex(const std::string& stamp, const Index& index) {
  std::ostringstream text;
  text << kHeader << '\n' << stamp << '\n';
  for (const auto& [key, name] : index) text << hexOf(key) << ' ' << hexOf(name) << '\n';
  const std::string content = text.str();
  std::string temporary = indexPath() + ".XXXXXX";
  Descriptor fd(mkstemp(temporary.data()));
  if (fd.get() < 0) return;
  const bool written = write(fd.get(), content.data(), content.size()) == static_cast<ssize_t>(content.size());
  if (!written || rename(temporary.c_str(), indexPath().c_str()) != 0) unlink(temporary.c_str());
}

std::string identityOf(const GostPublicKey& key) {
  const Bytes bytes = key.identity();
  return std::string(bytes.begin(), bytes.end());
}

std::optional<GostPublicKey> containerKey(const std::string& name) {
  try {
    return GostPublicKey::fromSpki(readPublicKeyFile(name));
  } catch (const Win32Failure&) {
    return std::nullopt;  // an unreadable or foreign public key holds no key of ours
  }
}

}  // namespace

std::string findKeyContainer(const GostPublicKey& key) {
  const std::string wanted = identityOf(key);
  const std::string stamp = folderStamp();
  if (std::shared_ptr<const Index> index = readIndex(stamp)) {
    auto found = index->find(wanted);
    if (found != index->end()) {
      std::optional<GostPublicKey> held = containerKey(found->second);
      if (held && held->sameKeyAs(key)) return found->second;
    }
  }
  // Every container, in name order: the first holder of a key is its container.
  Index index;
  for (const std::string& name : listContainers())
    if (std::optional<GostPublicKey> held = containerKey(name)) index.emplace(identityOf(*held), name);
  writeIndex(stamp, index);
  auto found = index.find(wanted);
  if (found == index.end()) fail(CRYPT_E_NO_KEY_PROPERTY);
  return found->second;
}

}  // namespace tv
