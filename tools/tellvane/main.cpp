// The tellvane command: the host that drives the component from a shell.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "help") == 0) {
    std::printf("usage: tellvane <command>\n");
    return argc < 2 ? 1 : 0;
  }
  std::fprintf(stderr, "tellvane: unknown command '%s'\n", argv[1]);
  return 1;
}
