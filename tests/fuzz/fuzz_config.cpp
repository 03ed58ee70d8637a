// Fuzzes the configuration layer through the entry every program uses:
// ClassificationSystem.xml and the two documents it names, loaded by
// ConfigSet and checked by checkConfiguration, and the number lists.
// Input: up to three documents separated by a line "@@@" (top, user,
// system); with fewer, the shipped documents fill the rest.
#include "app/config.h"
#include "features/fftw_lock.h"
#include "processing/validation.h"
#include "tests/fuzz/fuzz_files.h"

#include <fftw3.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace classification;

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
  static const std::string shipped = std::string(SC_SOURCE_DIR) + "/config/";
  static const std::string top = sctest::readFile(shipped + "ClassificationSystem.xml"),
                           system = sctest::readFile(shipped + "SystemParameters.xml");
  static const scfuzz::Scratch dir("sc-fuzz-config", true);
  const auto write = [](const std::string& name, const std::string& text) {
    scfuzz::writeFile(dir.path + "/" + name, text.data(), text.size());
  };
  write("ClassificationSystem.xml", docs.size() == 3 ? docs[0] : top);
  write("UserParameters.xml", docs.size() == 3 ? docs[1] : docs[0]);
  write("SystemParameters.xml", docs.size() == 3 ? docs[2] : docs.size() == 2 ? docs[1] : system);
  try {
    ConfigSet config(dir.path);
    checkConfiguration(config);
  } catch (const ConfigError&) {
  }
  getArrayF(input.c_str());
  getArrayI(input.c_str());
  return 0;
}
