// Runs a fuzz harness over files (the seed corpus and the inputs of past
// findings) without libFuzzer, so that every build replays them as a test.
#include "tests/fuzz/fuzz_files.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> paths;
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& e : std::filesystem::directory_iterator(argv[i]))
        if (e.is_regular_file()) paths.push_back(e.path());
    } else {
      paths.push_back(argv[i]);
    }
    for (const auto& p : paths) {
      const std::string bytes = sctest::readFile(p.string());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++files;
    }
  }
  std::printf("%d inputs replayed\n", files);
  return 0;
}
