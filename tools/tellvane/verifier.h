// What a signature covers, and checking a sign tuple as its receiver would:
// the signature against the certificate that the tuple carries.
#pragma once

#include "options.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tool {

// The name of the installed GOST R 34.10-2001 provider (type 75).
std::string gostProviderName();

// The GOST R 34.11-94 digest of the input the options name: --text (its
// UTF-8 bytes), --file (read in blocks) or, where allowed, --digest (Base64,
// taken as it is).
std::vector<BYTE> digestOfInput(const ParsedArguments& parsed);

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
