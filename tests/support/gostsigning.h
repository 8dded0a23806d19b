// Checking the provider's GOST signatures from outside it, and preparing its
// key containers, for tests. Verification is nettle's gostdsa_verify, not the
// GnuTLS path that made the signature.
#pragma once

#include "support/certfactory.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scopedenv.h"

namespace tvtest {

using Bytes = std::vector<unsigned char>;

// The GOST R 34.11-94 digest of the bytes (GnuTLS).
Bytes gostDigest(const Bytes& data);
Bytes gostDigest(const std::string& data);

// The DER of a PEM private key ("PRIVATE KEY"); empty when it is none.
Bytes pemKeyDer(const std::string& pem);

// A sign tuple's Base64 text: the signature (in the provider's byte order)
// and the certificate, as the component packs them.
std::string signTupleText(const Bytes& providerSignature, const Bytes& certificateDer);

// Verifies a signature in the provider's byte order (RFC 4491 reversed)
// over a digest, with the public key of a SubjectPublicKeyInfo, by nettle.
bool nettleVerifies(const Bytes& publicKeyDer, const Bytes& digest, const Bytes& providerSignature);

// The DER bytes with the first occurrence of the parameter set OID
// 1.2.643.2.2.35.1 changed into 1.2.643.2.2.35.<last> (2 or 3): a key of a
// parameter set the provider does not take.
Bytes withParamSet35(const Bytes& der, unsigned char last);
// The same for a PEM private key (re-encoded as PEM).
std::string privateKeyWithParamSet35(const std::string& pem, unsigned char last);

// Test-name suffix for the two supported parameter sets ("ParamSet35_1",
// "ParamSet36_0"), for INSTANTIATE_TEST_SUITE_P.
std::string parameterSetName(const ::testing::TestParamInfo<KeyKind>& info);

// Creates <prefix>/keys/<name>/ through the stand-in; fails the test on error.
void installKeyContainer(const std::string& name, const std::string& privatePem, const Bytes& publicDer);

// A pinentry program for tests: a shell script in folder that answers the
// Assuan greeting and commands with OK and GETPIN with the given answer
// lines (for instance "D 1234" or "ERR 83886179 Operation cancelled").
// Returns its path. With stayAfterBye it does not exit when told BYE.
std::string writePinentryScript(const std::string& folder, const std::string& getpinAnswer,
                                bool stayAfterBye = false);

// Names the pinentry program of the provider while it lives (an empty name:
// none, so that no test ever prompts a person), then restores the former one.
struct ScopedPinentry : ScopedEnv {
  explicit ScopedPinentry(const std::string& program = "") : ScopedEnv("TELLVANE_PINENTRY", program.c_str()) {}
};

}  // namespace tvtest

namespace provisioning {
// The same name where gtest prints a parameter (in ctest's test list).
void PrintTo(KeyKind kind, std::ostream* os);
}  // namespace provisioning
