// What a signature covers, and checking a sign tuple as its receiver would:
// the signature against the certificate that the tuple carries.
#pragma once

#include "options.h"

#include <windows.h>

#include "csp++/gost.h"

#include <string>
#include <vector>

namespace tool {

// The name of the installed GOST R 34.10-2001 provider (type 75).
std::string gostProviderName();

// The digest of the input the options name, by the hash a key of that
// algorithm signs (GOST R 34.11-94 by default, Streebog for 2012 keys):
// --text (its UTF-8 bytes), --file (read in blocks) or, where allowed,
// --digest (Base64, taken as it is, of that hash's size).
std::vector<BYTE> digestOfInput(const ParsedArguments& parsed, ALG_ID algorithm = CALG_GR3411);

// The hash of the key that made a sign tuple, from its certificate.
ALG_ID signTupleHash(const std::vector<BYTE>& tuple);

struct TupleReport {
  std::string thumbprint;  // of the certificate in the tuple
  std::string subject;     // its subject, in the thread's code page
  std::string issuer;
  bool selfIssued = false;  // and then its own signature was checked too
  size_t signatureSize = 0;
  bool valid = false;  // the signature verifies with its public key
};

// The sign tuple's bytes from what a user hands in: its Base64 text, or a
// whole result envelope holding it. Throws with the reason when neither.
std::vector<BYTE> signTupleBytes(const std::string& text);

// Reads the tuple to its end (bytes after it are refused: they are not
// covered by anything) and checks its signature over the digest.
TupleReport checkSignTuple(const std::vector<BYTE>& tuple, const std::vector<BYTE>& digest);

}  // namespace tool
