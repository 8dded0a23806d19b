// Runs a program to its end, as a user or a browser runs it: arguments,
// standard input from a text, standard output and error collected.
#pragma once

#include <string>
#include <vector>

namespace tvtest {

struct ProgramRun {
  int status = -1;  // the exit code, 128 + the signal that ended it, -1 when it did not start
  std::string out, err;
};

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input = "");

}  // namespace tvtest
