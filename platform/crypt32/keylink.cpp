#include "crypt32/keylink.h"

#include <winerror.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "crypt32/certcontext.h"
#include "crypt32/store.h"
#include "internal/descriptor.h"
#include "internal/hex.h"
#include "internal/prefix.h"
#include "internal/regularfile.h"
#include "internal/utf.h"
#include "internal/win32call.h"

namespace tv {

namespace {

constexpr char kHeader[] = "tellvane key link 1";
constexpr size_t kMaximumFileSize = 4096;

std::string textOf(const KeyLink& link) {
  std::ostringstream text;
  text << kHeader << "\ntype " << link.providerType << "\nprovider " << toUtf8(link.provider) << "\ncontainer "
       << toUtf8(link.container) << "\nkeyspec " << link.keySpec << "\nflags " << link.flags << '\n';
  return text.str();
}

// The value of a "<key> <value>" line.
bool readField(std::istream& in, const char* key, std::string& value) {
  std::string line;
  if (!std::getline(in, line)) return false;
  const size_t length = std::strlen(key);
  if (line.compare(0, length, key) != 0 || line.size() <= length || line[length] != ' ') return false;
  value = line.substr(length + 1);
  return true;
}

bool readNumber(std::istream& in, const char* key, DWORD& value) {
  std::string text;
  if (!readField(in, key, text) || text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long number = std::stoull(text);
  if (number > 0xFFFFFFFFull) return false;
  value = static_cast<DWORD>(number);
  return true;
}

std::optional<KeyLink> parse(const std::string& text) {
  std::istringstream in(text);
  std::string header, provider, container;
  KeyLink link;
  if (!std::getline(in, header) || header != kHeader || !readNumber(in, "type", link.providerType) ||
      !readField(in, "provider", provider) || !readField(in, "container", container) || container.empty() ||
      !readNumber(in, "keyspec", link.keySpec) || !readNumber(in, "flags", link.flags))
    return std::nullopt;
  link.provider = toUtf16(provider);
  link.container = toUtf16(container);
  return link;
}

std::string linkFolder(const std::string& storeFolder) { return storeFolder + "/properties"; }

std::string linkPath(const std::string& storeFolder, PCCERT_CONTEXT certificate) {
  const Thumbprint& sha1 = certificateSha1(certificate);
  return linkFolder(storeFolder) + "/" + hexText(sha1.data(), sha1.size()) + ".key";
}

void requireOneLine(const std::u16string& name) {
  require(name.find_first_of(u"\r\n") == std::u16string::npos && name.find(u'\0') == std::u16string::npos,
          static_cast<DWORD>(E_INVALIDARG));
}

}  // namespace

KeyLink keyLinkOf(const CRYPT_KEY_PROV_INFO& info) {
  require(info.pwszContainerName != nullptr && *info.pwszContainerName != 0 && info.cProvParam == 0,
          static_cast<DWORD>(E_INVALIDARG));
  KeyLink link;
  link.providerType = info.dwProvType;
  link.container = info.pwszContainerName;
  if (info.pwszProvName != nullptr) link.provider = info.pwszProvName;
  link.keySpec = info.dwKeySpec;
  link.flags = info.dwFlags;
  requireOneLine(link.container);
  requireOneLine(link.provider);
  return link;
}

void copyOutKeyLink(const KeyLink& link, void* out, DWORD* ioSize) {
  require(ioSize != nullptr);
  const size_t providerUnits = link.provider.empty() ? 0 : link.provider.size() + 1;
  const size_t units = link.container.size() + 1 + providerUnits;
  const DWORD size = static_cast<DWORD>(sizeof(CRYPT_KEY_PROV_INFO) + units * sizeof(WCHAR));
  if (out == nullptr) {
    *ioSize = size;
    return;
  }
  if (*ioSize < size) {
    *ioSize = size;
    fail(ERROR_MORE_DATA);
  }
  auto* info = static_cast<CRYPT_KEY_PROV_INFO*>(out);
  WCHAR* strings = reinterpret_cast<WCHAR*>(info + 1);
  *info = CRYPT_KEY_PROV_INFO{};
  info->pwszContainerName = strings;
  strings = std::copy(link.container.begin(), link.container.end(), strings);
  *strings++ = 0;
  if (providerUnits != 0) {
    info->pwszProvName = strings;
    strings = std::copy(link.provider.begin(), link.provider.end(), strings);
    *strings = 0;
  }
  info->dwProvType = link.providerType;
  info->dwFlags = link.flags;
  info->dwKeySpec = link.keySpec;
  *ioSize = size;
}

std::optional<KeyLink> readKeyLink(PCCERT_CONTEXT certificate) {
  const std::shared_ptr<StoreRecord> store = storeRecordOf(certificate);
  if (store == nullptr) return parse(heldKeyLinkText(certificate));
  Descriptor fd(openRegularFile(linkPath(store->folder, certificate)));
  std::string text;
  if (fd.get() < 0 || !readUpTo(fd.get(), kMaximumFileSize, text)) return std::nullopt;
  return parse(text);
}

void writeKeyLink(PCCERT_CONTEXT certificate, const KeyLink* link, bool upkeep) {
  const std::shared_ptr<StoreRecord> store = storeRecordOf(certificate);
  if (store == nullptr) return holdKeyLinkText(certificate, link != nullptr ? textOf(*link) : std::string());
  if (store->readOnly && !upkeep) fail(ERROR_ACCESS_DENIED);
  const std::string path = linkPath(store->folder, certificate);
  if (link == nullptr) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) fail(ERROR_ACCESS_DENIED);
    return;
  }
  if (!makeFolders(linkFolder(store->folder), 0700)) fail(ERROR_ACCESS_DENIED);
  const std::string text = textOf(*link);
  writeWholeFile(path, ".new", reinterpret_cast<const BYTE*>(text.data()), text.size());
}

void removeKeyLinkFile(const std::string& folder, PCCERT_CONTEXT certificate) {
  unlink(linkPath(folder, certificate).c_str());
}

}  // namespace tv
