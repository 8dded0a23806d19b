// Checking a sign tuple as its receiver would: the signature against the
// certificate that the tuple carries.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tool {

struct TupleReport {
  std::string thumbprint;       // of the certificate in the tuple
  std::string subject;          // its subject, in the thread's code page
  size_t signatureSize = 0;
  bool valid = false;           // the signature verifies with its public key
};

// The name of the installed GOST R 34.10-2001 provider (type 75).
std::string gostProviderName();

// The tuple's Base64 text; the signed content is either the digest itself
// or the UTF-8 text whose GOST R 34.11-94 digest was signed. Throws when the
// tuple cannot be read.
TupleReport checkSignTupleOverDigest(const std::string& tupleBase64, const std::vector<BYTE>& digest);
TupleReport checkSignTupleOverText(const std::string& tupleBase64, const std::string& utf8Text);

}  // namespace tool
