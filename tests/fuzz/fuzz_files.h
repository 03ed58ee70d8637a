// Files for the harnesses: a private scratch place, memory-backed where there
// is /dev/shm (thousands of files a second) and removed at exit, and
// whole-file writes.
#pragma once

#include "tests/support/files.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace scfuzz {

// A new private directory (or, with directory false, an empty file), removed
// again when the harness exits.
class Scratch {
 public:
  Scratch(const char* name, bool directory)
      : path(std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/") + name + ".XXXXXX") {
    if (directory) {
      owned = mkdtemp(path.data()) != nullptr;
    } else {
      const int fd = mkstemp(path.data());
      owned = fd >= 0;
      if (owned) close(fd);
    }
  }
  ~Scratch() {
    std::error_code ec;
    if (owned) std::filesystem::remove_all(path, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string path;

 private:
  bool owned = false;
};

inline bool writeFile(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written;
}

}  // namespace scfuzz
