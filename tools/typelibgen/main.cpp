// typelibgen: turns the library block of an IDL file (the subset that the
// component's interfaces use) into the platform stand-in's compact type
// library. The Windows build compiles the same IDL file with widl.
//
//   typelibgen <input.idl> <output> [--syskind win32|win64]
#include <oaidl.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "oleaut32/typelibdata.h"
#include "idlparser.h"

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 5 && std::strcmp(argv[3], "--syskind") == 0)) {
    std::cerr << "usage: typelibgen <input.idl> <output> [--syskind win32|win64]\n";
    return 2;
  }
  uint32_t syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
  if (argc == 5) {
    if (std::strcmp(argv[4], "win32") == 0) {
      syskind = SYS_WIN32;
    } else if (std::strcmp(argv[4], "win64") == 0) {
      syskind = SYS_WIN64;
    } else {
      std::cerr << "typelibgen: unknown system kind " << argv[4] << "\n";
      return 2;
    }
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "typelibgen: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  try {
    tv::typelib::Library library = typelibgen::parseIdl(text.str());
    library.syskind = syskind;
    const std::string bytes = tv::typelib::serialize(library);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::cerr << "typelibgen: cannot write " << argv[2] << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << argv[1] << ":" << e.what() << "\n";
    return 1;
  }
  return 0;
}
