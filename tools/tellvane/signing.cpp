// `tellvane sign-string`, `sign-hash` and `verify`: the signing operations
// as a page calls them, and the check its server would make.
#include "commands.h"
#include "operations.h"
#include "options.h"
#include "verifier.h"

#include "csp++/cryptoutils.h"

#include <cstdio>

namespace tool {

namespace {

int runSigning(const Arguments& args, SigningOperation operation, const char* usage) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: %s\n", usage);
    return 2;
  }
  HRESULT status = S_OK;
  std::printf("%s\n", signingEnvelope(operation, args[1], args[0], &status).c_str());
  return SUCCEEDED(status) ? 0 : 1;
}

void printReport(const TupleReport& report) {
  std::printf("certificate %s\nsubject     %s\nsignature   %zu bytes, %s\n", report.thumbprint.c_str(),
              report.subject.c_str(), report.signatureSize, report.valid ? "valid" : "INVALID");
}

}  // namespace

int runSignString(const Arguments& args) {
  return runSigning(args, &ClientCrypto::signString, "tellvane sign-string <thumbprint> <text>");
}

int runSignHash(const Arguments& args) {
  return runSigning(args, &ClientCrypto::signHash, "tellvane sign-hash <thumbprint> <base64 digest>");
}

int runVerify(const Arguments& args) {
  ParsedArguments parsed;
  const bool parsedWell = parseArguments(args, {"text", "hash"}, parsed);
  if (!parsedWell || parsed.positional.size() != 1 || parsed.options.size() != 1) {
    std::fprintf(stderr, "usage: tellvane verify <base64 sign tuple> (--text TEXT | --hash BASE64)\n");
    return 2;
  }
  const TupleReport report =
      parsed.options.count("text")
          ? checkSignTupleOverText(parsed.positional[0], parsed.option("text"))
          : checkSignTupleOverDigest(parsed.positional[0], base64Decode(parsed.option("hash")));
  printReport(report);
  return report.valid ? 0 : 1;
}

}  // namespace tool
