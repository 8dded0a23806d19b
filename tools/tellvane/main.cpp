// The tellvane command: the host that drives the component from a shell.
#include "commands.h"

#include <clocale>
#include <langinfo.h>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

struct Command {
  const char* name;
  int (*run)(const tool::Arguments&);
  const char* summary;
};

const Command kCommands[] = {
    {"demo", tool::runDemo, "run the component end to end in a throw-away platform prefix"},
    {"list", tool::runList, "list the personal certificates as a page sees them (JSON envelope)"},
    {"new-key", tool::runNewKey, "make a GOST key container and its certificate in the personal store"},
    {"sign-string", tool::runSignString, "sign a text's UTF-8 bytes with the certificate of a thumbprint"},
    {"sign-hash", tool::runSignHash, "sign a Base64 GOST R 34.11-94 digest with the certificate of a thumbprint"},
    {"verify", tool::runVerify, "check a sign tuple against the text or digest it signs"},
    {"import", tool::runImport, "add a DER certificate file to the personal store"},
    {"trace", tool::runTrace, "show the debug output of every process using the platform"},
    {"bridge", tool::runBridge, "install the browser bridge; list and revoke the origins allowed to use it"},
};

int usage(FILE* out) {
  std::fprintf(out, "usage: tellvane <command> [arguments]\n\ncommands:\n");
  for (const Command& command : kCommands) std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  return out == stdout ? 0 : 2;
}

// Runs a command; whatever it throws ends it with its reason and status 1.
int run(const Command& command, const tool::Arguments& args) {
  try {
    return command.run(args);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tellvane %s: %s\n", command.name, error.what());
  } catch (...) {
    std::fprintf(stderr, "tellvane %s: unexpected failure\n", command.name);
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The component's 8-bit texts follow the locale's character set; a bare C
  // locale would turn every non-ASCII name into '?', so prefer UTF-8 there.
  std::setlocale(LC_ALL, "");
  if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) std::setlocale(LC_ALL, "C.UTF-8");
  if (argc < 2) return usage(stderr);
  if (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) return usage(stdout);
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return run(command, tool::Arguments(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "tellvane: unknown command '%s'\n", argv[1]);
  return usage(stderr);
}
