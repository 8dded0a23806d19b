#include "consent.h"

#include <windows.h>

#include <ctime>
#include <stdexcept>

#include "common/wide.h"
#include "hoststdio.h"

namespace bridge {

namespace {

const WCHAR kOriginsKey[] = WSTR("Software\\Tellvane\\Bridge\\Origins");

// Registry texts in the platform's UTF-16 unit (wchar_t on Windows).
using WideString = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

// Origins are ASCII (isSecureOrigin), so UTF-16 is a widening of each byte.
WideString wide(std::string_view text) { return WideString(text.begin(), text.end()); }

std::string narrow(WideView text) {
  std::string result;
  for (WCHAR unit : text) result += unit < 0x80 ? static_cast<char>(unit) : '?';
  return result;
}

void check(LSTATUS status, const char* what) {
  if (status != ERROR_SUCCESS)
    throw std::runtime_error(std::string(what) + " (registry error " + std::to_string(status) + ")");
}

// One open registry key.
class Key {
 public:
  // Opens (or, with create, makes) a key under HKEY_CURRENT_USER; an absent
  // key leaves the object empty when not creating.
  Key(const WideString& path, bool create) {
    LSTATUS status = create ? RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                              &key_, nullptr)
                            : RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key_);
    if (status == ERROR_FILE_NOT_FOUND && !create) return;
    check(status, "Cannot open the consent record");
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

  std::string text(const WCHAR* name) const {
    WCHAR buffer[64];
    DWORD type = 0, size = sizeof buffer;
    if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return {};
    WideView value(buffer, size / sizeof(WCHAR));
    while (!value.empty() && value.back() == 0) value.remove_suffix(1);
    return narrow(value);
  }
  void setText(const WCHAR* name, const std::string& value) {
    WideString data = wide(value);
    check(RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR))),
          "Cannot record the consent");
  }

 private:
  HKEY key_ = nullptr;
};

WideString originKey(const std::string& origin) {
  if (!isSecureOrigin(origin)) throw std::invalid_argument("Not a secure origin: " + origin);
  return WideString(kOriginsKey) + WSTR("\\") + wide(origin);
}

Consent parse(const std::string& text) {
  if (text == "allow") return Consent::Allowed;
  if (text == "deny") return Consent::Denied;
  return Consent::Unasked;
}

std::string now() {
  std::time_t seconds = std::time(nullptr);
  std::tm parts = hoststdio::utcTime(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

bool isHostChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

}  // namespace

bool isSecureOrigin(std::string_view origin) {
  if (origin.size() > 255) return false;
  bool https = origin.substr(0, 8) == "https://";
  if (!https && origin.substr(0, 7) != "http://") return false;
  std::string_view rest = origin.substr(https ? 8 : 7);
  std::string_view host = rest, port;
  if (std::size_t colon = rest.rfind(':');
      colon != std::string_view::npos && rest.find(']', colon) == std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return false;
  }
  if (!https) return host == "localhost" || host == "127.0.0.1" || host == "[::1]";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    return host.find_first_not_of("0123456789abcdef:.", 1) == host.size() - 1;
  if (host.empty() || host.front() == '.' || host.front() == '-') return false;
  for (char c : host)
    if (!isHostChar(c)) return false;
  return true;
}

const char* consentName(Consent consent) {
  switch (consent) {
    case Consent::Allowed:
      return "allow";
    case Consent::Denied:
      return "deny";
    default:
      return "unasked";
  }
}

Consent ConsentStore::of(const std::string& origin) const {
  Key key(originKey(origin), false);
  return key ? parse(key.text(WSTR("Consent"))) : Consent::Unasked;
}

void ConsentStore::record(const std::string& origin, Consent consent) {
  if (consent == Consent::Unasked) throw std::invalid_argument("A consent is allow or deny");
  Key key(originKey(origin), true);
  key.setText(WSTR("Consent"), consentName(consent));
  key.setText(WSTR("Decided"), now());
}

std::vector<OriginConsent> ConsentStore::list() const {
  std::vector<OriginConsent> origins;
  Key parent(kOriginsKey, false);
  if (!parent) return origins;
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD length = 256;
    LSTATUS status = RegEnumKeyExW(parent.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    check(status, "Cannot read the consent records");
    std::string origin = narrow(WideView(name, length));
    Key key(WideString(kOriginsKey) + WSTR("\\") + WideString(name, length), false);
    if (key) origins.push_back({origin, parse(key.text(WSTR("Consent"))), key.text(WSTR("Decided"))});
  }
  return origins;
}

bool ConsentStore::revoke(const std::string& origin) {
  LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, originKey(origin).c_str());
  if (status == ERROR_FILE_NOT_FOUND) return false;
  check(status, "Cannot revoke the consent");
  return true;
}

}  // namespace bridge
