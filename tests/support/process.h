// Runs a program as a user would, through the shell, for the tests of the
// tools: its exit status, standard output and standard error.
#pragma once

#include <string>

namespace sctest {

struct RunResult {
  int status;  // -1 when it did not exit normally
  std::string out, err;
};

RunResult runCommand(const std::string& command);

}  // namespace sctest
