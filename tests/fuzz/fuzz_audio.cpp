// Fuzzes the offline runner's audio path: whatever libsndfile (or, for
// native FLAC, libFLAC) accepts is decoded, mixed down, resampled to the
// configured rate and run for its first 0.5 s through segmentation,
// features and classification, on the shipped configuration and model.
// The noise is measured over shorter times than shipped (0.1 s first
// estimate, 0.2 s history) so that those 0.5 s take the segmentation
// through its whole cycle: first estimate, history wraps, fresh estimates,
// events.
#include "app/config.h"
#include "features/fftw_lock.h"
#include "processing/offline_driver.h"
#include "tests/fuzz/fuzz_files.h"
#include "tools/audiofile.h"

#include <fftw3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace classification;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ConfigSet* config = nullptr;
  static MOfflineDriver* driver = nullptr;
  static const scfuzz::Scratch file("sc-fuzz-audio", false);
  if (!driver) {
    setFftwPlannerFlags(FFTW_ESTIMATE);
    config = new ConfigSet(std::string(SC_SOURCE_DIR) + "/config");
    const auto shorten = [](const char* key, const char* value) {
      XmlNode* node = cfg::element(cfg::element(config->userRoot(), "Segmentation"), key);
      node->first_attribute("Value")->value(value);
    };
    shorten("TimeInit", "0.1");
    shorten("AdaptionTime", "0.2");
    driver = new MOfflineDriver(config->userRoot(), config->systemRoot());
  }
  if (!scfuzz::writeFile(file.path, data, size)) return 0;

  AudioStream audio;
  std::string error;
  // The sinc converter's arithmetic is libsamplerate's and took nine tenths
  // of the time; the streaming around it is the same with the linear one.
  if (!audio.open(file.path, driver->sampleRate(), error, AudioStream::Converter::Linear)) return 0;
  driver->restart();
  std::vector<float> chunk(4096);
  std::vector<ClassifiedEvent> events;
  long total = 0;
  const long limit = driver->sampleRate() / 2;
  while (total < limit) {
    const long n = audio.read(chunk.data(), static_cast<long>(chunk.size()), error);
    if (n <= 0) break;
    driver->feedSamples(chunk.data(), static_cast<size_t>(n), events);
    total += n;
    events.clear();
  }
  return 0;
}
