// The tellvane command: the host that registers the component, calls it as
// a script does, and manages what it works on.
#include "commands.h"

#include <clocale>
#include <langinfo.h>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

struct Command {
  const char* name;  // one word, or a group word and a word ("certs list")
  int (*run)(const tool::Arguments&);
  const char* arguments;
  const char* summary;
};

// One line per command; a new command needs a line here and its function.
const Command kCommands[] = {
    {"register", tool::runRegister, "[--user] [--unregister] [LIBRARY]",
     "register the component (default: the installed one) as regsvr32 does; --user for this user alone"},
    {"call", tool::runCall, "[--null N]... METHOD [ARG]...",
     "create Tellvane.Signer32 by ProgID and call METHOD by name with text arguments (--null N: argument N is null)"},
    {"demo", tool::runDemo, "", "register, sign and verify through the component in a throw-away platform prefix"},
    {"certs list", tool::runCertsList, "", "the personal certificates: thumbprint, subject, validity, key algorithm, private key"},
    {"certs import", tool::runCertsImport, "FILE [--key KEY] [--password P]",
     "add a certificate (DER or PEM) with its PKCS#8 key, or a PKCS#12 file, to the personal store"},
    {"certs new", tool::runCertsNew,
     "[--cn NAME] [--org NAME] [--container NAME] [--algorithm 2001|2012-256|2012-512] [--paramset SET] [--pin PIN]",
     "make a GOST R 34.10 key container and a self-issued certificate for it; SET: 2001 A|B|C|XA|XB, "
     "2012-256 A|B|C|D, 2012-512 A|B|C (default 2001 A)"},
    {"certs remove", tool::runCertsRemove, "THUMBPRINT [--with-key]",
     "take a certificate (and with --with-key its key container) out of the personal store"},
    {"digest", tool::runDigest, "(--text S | --file F) [--algorithm 2001|2012-256|2012-512]",
     "the digest in Base64, as signHash takes it for a key of that algorithm (GOST R 34.11-94 or Streebog)"},
    {"verify", tool::runVerify, "(--text S | --file F | --digest B64) TUPLE",
     "check a sign tuple (Base64, a whole JSON envelope, or - for standard input) against what it signs"},
    {"trace", tool::runTrace, "", "show the debug output of every process using the platform"},
    {"bridge", tool::runBridge,
     "install [--browser chromium|chrome|edge|firefox] [--uninstall] | origins [--revoke ORIGIN]",
     "install the browser bridge's host for this user; list and revoke the origins allowed to use it"},
};

// How many of argv's words name the command: 1 or 2.
size_t wordsOf(const Command& command) { return std::strchr(command.name, ' ') != nullptr ? 2 : 1; }

bool matches(const Command& command, int argc, char** argv) {
  const char* space = std::strchr(command.name, ' ');
  if (space == nullptr) return std::strcmp(argv[1], command.name) == 0;
  const size_t group = static_cast<size_t>(space - command.name);
  return argc > 2 && std::strlen(argv[1]) == group && std::strncmp(argv[1], command.name, group) == 0 &&
         std::strcmp(argv[2], space + 1) == 0;
}

// The commands, or those of one group ("certs").
int usage(FILE* out, const char* group = nullptr) {
  std::fprintf(out, "usage: tellvane <command> [arguments]; tellvane <command> --help\n\ncommands:\n");
  for (const Command& command : kCommands) {
    if (group != nullptr && std::strncmp(command.name, group, std::strlen(group)) != 0) continue;
    std::fprintf(out, "  %-13s %s\n", command.name, command.summary);
  }
  return out == stdout ? 0 : 2;
}

// "tellvane certs import FILE [--key KEY] [--password P]"
std::string usageOf(const Command& command) {
  return std::string("tellvane ") + command.name + (*command.arguments != '\0' ? " " : "") + command.arguments;
}

bool wantsHelp(const tool::Arguments& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

// Runs a command; whatever it throws ends it with one line and status 2
// (usage) or 1.
int run(const Command& command, const tool::Arguments& args) {
  if (wantsHelp(args)) {
    std::printf("usage: %s\n%s\n", usageOf(command).c_str(), command.summary);
    return 0;
  }
  try {
    return command.run(args);
  } catch (const tool::UsageError& error) {
    std::fprintf(stderr, "tellvane %s: %s (usage: %s)\n", command.name, error.what(), usageOf(command).c_str());
    return 2;
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
    if (matches(command, argc, argv)) return run(command, tool::Arguments(argv + 1 + wordsOf(command), argv + argc));
  }
  // A group word alone ("certs") or with a word it lacks.
  const std::string group = argv[1];
  for (const Command& command : kCommands) {
    if (wordsOf(command) != 2 || std::string(command.name).rfind(group + " ", 0) != 0) continue;
    if (argc > 2 && (std::strcmp(argv[2], "--help") == 0 || std::strcmp(argv[2], "-h") == 0))
      return usage(stdout, argv[1]);
    std::fprintf(stderr, "tellvane %s: %s (tellvane %s --help lists them)\n", argv[1],
                 argc > 2 ? ("unknown command '" + std::string(argv[2]) + "'").c_str() : "which command?", argv[1]);
    return 2;
  }
  std::fprintf(stderr, "tellvane: unknown command '%s' (tellvane --help lists them)\n", argv[1]);
  return 2;
}
