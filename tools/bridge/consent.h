// What the user answered when an origin first asked to use Tellvane. The
// answers live in the current user's registry, so the host that enforces them
// and the tellvane command that lists and revokes them share one record, and
// the same code keeps them in the real registry on Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bridge {

enum class Consent { Unasked, Allowed, Denied };

struct OriginConsent {
  std::string origin;
  Consent consent;
  std::string decided;  // when, UTC, "2026-12-07T02:30:00Z"
};

// https://host[:port], or http:// on localhost, 127.0.0.1 or [::1], as a
// browser writes an origin: lower case, no path, at most 255 characters.
bool isSecureOrigin(std::string_view origin);

// HKEY_CURRENT_USER\Software\Tellvane\Bridge\Origins\<origin>, with the
// values "Consent" ("allow" or "deny") and "Decided".
class ConsentStore {
 public:
  Consent of(const std::string& origin) const;
  void record(const std::string& origin, Consent consent);
  std::vector<OriginConsent> list() const;
  bool revoke(const std::string& origin);  // false when nothing was recorded
};

const char* consentName(Consent consent);  // "allow", "deny", "unasked"

}  // namespace bridge
