// What the user answered when an origin asked to use Tellvane. Each answer
// has a scope: listing the certificates, showing messages, or signing with
// one certificate; an origin has as many answers as it has asked for. The
// answers live in the current user's registry, so the host that enforces
// them and the tellvane command that lists and revokes them share one
// record, and the same code keeps them in the real registry on Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bridge {

enum class Consent { Unasked, Allowed, Denied };

// The scopes: "list", "message", and "sign:" followed by the certificate's
// thumbprint, 40 upper-case hexadecimal digits.
extern const char kListScope[];
extern const char kMessageScope[];
std::string signScope(std::string_view thumbprint);  // thumbprint as isThumbprint accepts it
bool isScope(std::string_view scope);
// 40 hexadecimal digits, of either case.
bool isThumbprint(std::string_view text);
// What a scope lets an origin do, for a person: "sign with certificate 0123…".
std::string scopeDescription(std::string_view scope);

struct Grant {
  std::string origin;
  std::string scope;
  Consent consent;
  std::string decided;  // when, UTC, "2026-12-07T02:30:00Z"
};

// https://host[:port], or http:// on localhost, 127.0.0.1 or [::1], as a
// browser writes an origin: lower case, no path, at most 255 characters.
bool isSecureOrigin(std::string_view origin);

// HKEY_CURRENT_USER\Software\Tellvane\Bridge\Origins\<origin>\<scope>, with
// the values "Consent" ("allow" or "deny") and "Decided". An answer of the
// earlier all-or-nothing form (a "Consent" value on the origin's own key)
// is read as the answer to listing alone.
class ConsentStore {
 public:
  Consent of(const std::string& origin, const std::string& scope) const;
  void record(const std::string& origin, const std::string& scope, Consent consent);
  std::vector<Grant> list() const;
  bool revoke(const std::string& origin);  // every answer of the origin; false when there was none
};

const char* consentName(Consent consent);  // "allow", "deny", "unasked"

// The time in UTC as "2026-12-07T02:30:00Z".
std::string utcText(long long secondsSinceEpoch);

}  // namespace bridge
