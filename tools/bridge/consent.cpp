#include "consent.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "common/wide.h"

namespace bridge {

const char kListScope[] = "list";
const char kMessageScope[] = "message";

namespace {

const WCHAR kOriginsKey[] = WSTR("Software\\Tellvane\\Bridge\\Origins");
const char kSignPrefix[] = "sign:";

// Registry texts in the platform's UTF-16 unit (wchar_t on Windows).
using WideString = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

// Origins and scopes are ASCII, so UTF-16 is a widening of each byte.
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
  // The names of the subkeys, in the registry's order.
  std::vector<WideString> subkeys() const {
    std::vector<WideString> names;
    for (DWORD index = 0;; ++index) {
      WCHAR name[256];
      DWORD length = 256;
      LSTATUS status = RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      check(status, "Cannot read the consent records");
      names.emplace_back(name, length);
    }
    return names;
  }

 private:
  HKEY key_ = nullptr;
};

WideString originKey(const std::string& origin) {
  if (!isSecureOrigin(origin)) throw std::invalid_argument("Not a secure origin: " + origin);
  return WideString(kOriginsKey) + WSTR("\\") + wide(origin);
}

WideString scopeKey(const std::string& origin, const std::string& scope) {
  if (!isScope(scope)) throw std::invalid_argument("Not a consent scope: " + scope.substr(0, 64));
  return originKey(origin) + WSTR("\\") + wide(scope);
}

Consent parse(const std::string& text) {
  if (text == "allow") return Consent::Allowed;
  if (text == "deny") return Consent::Denied;
  return Consent::Unasked;
}

bool isHostChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

}  // namespace

bool isThumbprint(std::string_view text) {
  if (text.size() != 40) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string signScope(std::string_view thumbprint) {
  if (!isThumbprint(thumbprint)) throw std::invalid_argument("Not a thumbprint");
  std::string scope = kSignPrefix;
  for (char c : thumbprint) scope += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return scope;
}

bool isScope(std::string_view scope) {
  if (scope == kListScope || scope == kMessageScope) return true;
  const std::string_view prefix = kSignPrefix;
  if (scope.substr(0, prefix.size()) != prefix) return false;
  const std::string_view thumbprint = scope.substr(prefix.size());
  return isThumbprint(thumbprint) && thumbprint.find_first_of("abcdef") == std::string_view::npos;
}

std::string scopeDescription(std::string_view scope) {
  if (scope == kListScope) return "list the certificates";
  if (scope == kMessageScope) return "show messages";
  return "sign with certificate " + std::string(scope.substr(sizeof kSignPrefix - 1));
}

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
    // As a browser writes it: digits without a leading zero, at most 65535, never the scheme's default.
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos ||
        (port.size() > 1 && port.front() == '0') || std::stol(std::string(port)) > 65535 || port == (https ? "443" : "80"))
      return false;
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

// Days to a civil date in the proleptic Gregorian calendar, in standard C++
// alone, so that the same source serves Windows.
std::string utcText(long long seconds) {
  long long days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  days += 719468;  // from 1970-01-01 to 0000-03-01
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long shifted = (5 * dayOfYear + 2) / 153;  // months from March
  const long long day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const long long month = shifted < 10 ? shifted + 3 : shifted - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day, rest / 3600,
                rest / 60 % 60, rest % 60);
  return text;
}

Consent ConsentStore::of(const std::string& origin, const std::string& scope) const {
  if (Key key(scopeKey(origin, scope), false); key) return parse(key.text(WSTR("Consent")));
  if (scope != kListScope) return Consent::Unasked;
  Key earlier(originKey(origin), false);
  return earlier ? parse(earlier.text(WSTR("Consent"))) : Consent::Unasked;
}

void ConsentStore::record(const std::string& origin, const std::string& scope, Consent consent) {
  if (consent == Consent::Unasked) throw std::invalid_argument("A consent is allow or deny");
  Key key(scopeKey(origin, scope), true);
  if (scope == kListScope) {
    // The answer of the earlier form, if any, gives way to this one.
    Key earlier(originKey(origin), false);
    if (earlier) RegDeleteValueW(earlier.get(), WSTR("Consent"));
  }
  key.setText(WSTR("Consent"), consentName(consent));
  key.setText(WSTR("Decided"), utcText(static_cast<long long>(std::time(nullptr))));
}

std::vector<Grant> ConsentStore::list() const {
  std::vector<Grant> grants;
  Key parent(kOriginsKey, false);
  if (!parent) return grants;
  for (const WideString& name : parent.subkeys()) {
    const std::string origin = narrow(name);
    const WideString path = WideString(kOriginsKey) + WSTR("\\") + name;
    Key key(path, false);
    if (!key) continue;
    if (Consent earlier = parse(key.text(WSTR("Consent"))); earlier != Consent::Unasked)
      grants.push_back({origin, kListScope, earlier, key.text(WSTR("Decided"))});
    for (const WideString& scope : key.subkeys()) {
      Key answer(path + WSTR("\\") + scope, false);
      if (answer) grants.push_back({origin, narrow(scope), parse(answer.text(WSTR("Consent"))), answer.text(WSTR("Decided"))});
    }
  }
  return grants;
}

bool ConsentStore::revoke(const std::string& origin) {
  LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, originKey(origin).c_str());
  if (status == ERROR_FILE_NOT_FOUND) return false;
  check(status, "Cannot revoke the consent");
  return true;
}

}  // namespace bridge
