// An independent verifier for tests: OpenSSL's GOST engine, run as a program.
// It makes keys on any GOST parameter set and checks signatures and digests
// that owe nothing to our code.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "gostsign/gostsign.h"

namespace tvtest {

using Bytes = std::vector<unsigned char>;

// One GOST parameter set as the engine names it.
struct EngineParameterSet {
  const char* algorithm;  // gost2001, gost2012_256, gost2012_512
  const char* paramset;   // the engine's name of the set
  const char* setName;    // ours ("A", "XchA", ...)
  const char* oid;        // as key infos name it
};

// The twelve published parameter sets.
const std::vector<EngineParameterSet>& engineParameterSets();
// A gtest-friendly name: gost2012_256_A.
std::string engineSetName(const EngineParameterSet& set);
// The same set as our signing code names it.
const tv::gost::ParameterSet& ourSet(const EngineParameterSet& set);
inline void PrintTo(const EngineParameterSet& set, std::ostream* os) { *os << engineSetName(set); }

// A new private key (PKCS#8 PEM), its SubjectPublicKeyInfo (DER) and a
// certificate (DER) it signed for itself.
struct EngineKey {
  std::string privatePem;
  Bytes publicDer;
  Bytes certificateDer;
};
EngineKey engineKey(const EngineParameterSet& set);

// The key and its certificate in a PKCS#12 file encrypted with GOST
// algorithms (GOST 28147-89, a Streebog MAC), as the engine writes it.
Bytes enginePkcs12(const EngineKey& key, const std::string& password);

// The hash of the bytes by the engine: md_gost94, md_gost12_256, md_gost12_512.
Bytes engineDigest(const std::string& hash, const Bytes& data);

// Whether the engine accepts a signature made in a provider's byte order
// (RFC 4491's s||r reversed) over the digest with the public key.
bool engineVerifies(const Bytes& publicDer, const Bytes& digest, const Bytes& providerSignature);

}  // namespace tvtest
