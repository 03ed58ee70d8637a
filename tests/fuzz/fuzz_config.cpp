// Fuzzes the configuration layer through the entry every program uses:
// ClassificationSystem.xml and the two documents it names, loaded by
// ConfigSet and checked by checkConfiguration, and the number lists.
// Input: up to three documents separated by a line "@@@" (top, user,
// system); with fewer, the shipped documents fill the rest.
#include "app/config.h"
#include "features/fftw_lock.h"
#include "processing/validation.h"

#include <fftw3.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

using namespace classification;

namespace {

std::string workDir() {
  static std::string dir = [] {
    // Memory-backed where there is /dev/shm: thousands of files a second.
    char pattern[] = "/dev/shm/sc-fuzz-config.XXXXXX";
    if (access("/dev/shm", W_OK) != 0) std::snprintf(pattern, sizeof pattern, "/tmp/sc-fuzz-cfg.XXXXXX");
    const char* d = mkdtemp(pattern);
    return std::string(d ? d : "/tmp");
  }();
  return dir;
}

void write(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

std::string shipped(const char* name) {
  std::string out;
  FILE* f = std::fopen((std::string(SC_SOURCE_DIR) + "/config/" + name).c_str(), "rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool once = [] {
    setFftwPlannerFlags(FFTW_ESTIMATE);
    return true;
  }();
  (void)once;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> docs;
  for (size_t from = 0;;) {
    const size_t at = input.find("\n@@@\n", from);
    docs.push_back(input.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos || docs.size() == 3) break;
    from = at + 5;
  }
  static const std::string top = shipped("ClassificationSystem.xml"), user = shipped("UserParameters.xml"),
                           system = shipped("SystemParameters.xml");
  const std::string dir = workDir();
  write(dir + "/ClassificationSystem.xml", docs.size() == 3 ? docs[0] : top);
  write(dir + "/UserParameters.xml", docs.size() == 3 ? docs[1] : docs[0]);
  write(dir + "/SystemParameters.xml", docs.size() == 3 ? docs[2] : docs.size() == 2 ? docs[1] : system);
  try {
    ConfigSet config(dir);
    checkConfiguration(config);
  } catch (const ConfigError&) {
  }
  getArrayF(input.c_str());
  getArrayI(input.c_str());
  return 0;
}
