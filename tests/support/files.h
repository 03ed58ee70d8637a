// Whole-file reads for the tests and the fuzz harnesses (which build
// without the rest of the test support).
#pragma once

#include <cstdio>
#include <string>

namespace sctest {

// A whole file as it is on disk; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

}  // namespace sctest
