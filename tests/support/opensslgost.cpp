#include "support/opensslgost.h"

#include "support/process.h"
#include "support/tempprefix.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tvtest {

namespace {

ProgramRun openssl(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> all{args.front(), "-engine", "gost"};
  all.insert(all.end(), args.begin() + 1, args.end());
  return runProgram("/usr/bin/openssl", all, input);
}

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

const std::vector<EngineParameterSet>& engineParameterSets() {
  static const std::vector<EngineParameterSet> sets = {
      {"gost2001", "A", "A", "1.2.643.2.2.35.1"},
      {"gost2001", "B", "B", "1.2.643.2.2.35.2"},
      {"gost2001", "C", "C", "1.2.643.2.2.35.3"},
      {"gost2001", "XA", "XchA", "1.2.643.2.2.36.0"},
      {"gost2001", "XB", "XchB", "1.2.643.2.2.36.1"},
      {"gost2012_256", "TCA", "A", "1.2.643.7.1.2.1.1.1"},
      {"gost2012_256", "TCB", "B", "1.2.643.7.1.2.1.1.2"},
      {"gost2012_256", "TCC", "C", "1.2.643.7.1.2.1.1.3"},
      {"gost2012_256", "TCD", "D", "1.2.643.7.1.2.1.1.4"},
      {"gost2012_512", "A", "A", "1.2.643.7.1.2.1.2.1"},
      {"gost2012_512", "B", "B", "1.2.643.7.1.2.1.2.2"},
      {"gost2012_512", "C", "C", "1.2.643.7.1.2.1.2.3"},
  };
  return sets;
}

const tv::gost::ParameterSet& ourSet(const EngineParameterSet& set) {
  const std::string algorithm = set.algorithm;
  const tv::gost::KeyAlgorithm ours = algorithm == "gost2001"       ? tv::gost::KeyAlgorithm::Gost2001
                                      : algorithm == "gost2012_256" ? tv::gost::KeyAlgorithm::Gost2012_256
                                                                    : tv::gost::KeyAlgorithm::Gost2012_512;
  const tv::gost::ParameterSet* found = tv::gost::parameterSetOf(ours, set.oid);
  if (found == nullptr) throw std::logic_error("no such set: " + engineSetName(set));
  return *found;
}

std::string engineSetName(const EngineParameterSet& set) { return std::string(set.algorithm) + "_" + set.setName; }

EngineKey engineKey(const EngineParameterSet& set) {
  const TempFolder folder("tellvane-engine");
  const std::string key = folder.path() + "/key.pem", pub = folder.path() + "/pub.der";
  const ProgramRun made =
      openssl({"genpkey", "-algorithm", set.algorithm, "-pkeyopt", std::string("paramset:") + set.paramset, "-out", key});
  const std::string certificate = folder.path() + "/certificate.der";
  const ProgramRun exported = openssl({"pkey", "-in", key, "-pubout", "-outform", "DER", "-out", pub});
  const ProgramRun issued = openssl(
      {"req", "-new", "-x509", "-key", key, "-subj", "/CN=Engine test", "-days", "30", "-outform", "DER", "-out", certificate});
  if (made.status != 0 || exported.status != 0 || issued.status != 0)
    throw std::runtime_error("openssl cannot make a " + engineSetName(set) + " key: " + made.err + exported.err +
                             issued.err);
  const Bytes pem = readBytes(key);
  return {std::string(pem.begin(), pem.end()), readBytes(pub), readBytes(certificate)};
}

Bytes enginePkcs12(const EngineKey& key, const std::string& password) {
  const TempFolder folder("tellvane-engine");
  const std::string pem = folder.path() + "/key.pem", certificate = folder.path() + "/certificate.der",
                    out = folder.path() + "/bundle.p12";
  writeBytes(pem, Bytes(key.privatePem.begin(), key.privatePem.end()));
  writeBytes(certificate, key.certificateDer);
  const ProgramRun pemCertificate =
      openssl({"x509", "-inform", "DER", "-in", certificate, "-out", certificate + ".pem"});
  const ProgramRun run = openssl({"pkcs12", "-export", "-inkey", pem, "-in", certificate + ".pem", "-keypbe", "gost89",
                                  "-certpbe", "gost89", "-macalg", "md_gost12_256", "-passout", "pass:" + password,
                                  "-out", out});
  if (pemCertificate.status != 0 || run.status != 0)
    throw std::runtime_error("openssl cannot make a PKCS#12 file: " + pemCertificate.err + run.err);
  return readBytes(out);
}

Bytes engineDigest(const std::string& hash, const Bytes& data) {
  const TempFolder folder("tellvane-engine");
  const std::string in = folder.path() + "/in", out = folder.path() + "/out";
  writeBytes(in, data);
  const ProgramRun run = openssl({"dgst", "-" + hash, "-binary", "-out", out, in});
  if (run.status != 0) throw std::runtime_error("openssl cannot hash with " + hash + ": " + run.err);
  return readBytes(out);
}

bool engineVerifies(const Bytes& publicDer, const Bytes& digest, const Bytes& providerSignature) {
  const TempFolder folder("tellvane-engine");
  const std::string pub = folder.path() + "/pub.der", in = folder.path() + "/digest", sig = folder.path() + "/sig";
  writeBytes(pub, publicDer);
  writeBytes(in, digest);
  writeBytes(sig, Bytes(providerSignature.rbegin(), providerSignature.rend()));
  return openssl({"pkeyutl", "-verify", "-pubin", "-keyform", "DER", "-inkey", pub, "-in", in, "-sigfile", sig})
             .status == 0;
}

}  // namespace tvtest
