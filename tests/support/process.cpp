#include "tests/support/process.h"
#include "tests/support/files.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace sctest {

RunResult runCommand(const std::string& command) {
  char errPath[] = "/tmp/sctest-stderr.XXXXXX";
  const int fd = mkstemp(errPath);
  if (fd >= 0) close(fd);
  FILE* p = popen(("{ " + command + " ; } 2>" + errPath).c_str(), "r");
  std::string out;
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int rc = pclose(p);
  std::string err = readFile(errPath);
  unlink(errPath);
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out, err};
}

}  // namespace sctest
