// soundclassifier-offline: runs recordings through the real detection and
// classification path and prints one JSON line per event.
#include "app/config.h"
#include "processing/pipeline.h"
#include "tools/audiofile.h"
#include "tools/json.h"
#include "tools/progress.h"

#include <cstring>
#include <iostream>
#include <map>

using namespace classification;

namespace {

const char* kUsage =
    "usage: soundclassifier-offline [--config DIR] [--features] [--summary] FILE...\n"
    "\n"
    "Runs each recording (WAV, FLAC, OGG, ...; mixed down to mono and resampled\n"
    "to the configured rate) block by block through the same segmentation,\n"
    "feature extraction and classification as the live program, and prints one\n"
    "JSON object per detected event on standard output:\n"
    "  file, index, header, firstBlock, onset (s), label, class, df[, features]\n"
    "\n"
    "  --config DIR  directory holding ClassificationSystem.xml (default: .)\n"
    "  --features    add the feature vector of every event\n"
    "  --summary     print the number of events per class on standard error\n"
    "  --help        this text\n"
    "\n"
    "Exit status: 0 success, 1 an audio file could not be read, 2 configuration error.\n";

struct Options {
  std::string configDir = ".";
  bool features = false;
  bool summary = false;
  std::vector<std::string> files;
};

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--config" && i + 1 < argc) {
      opt.configDir = argv[++i];
    } else if (a == "--features") {
      opt.features = true;
    } else if (a == "--summary") {
      opt.summary = true;
    } else if (a.rfind("--", 0) == 0) {
      std::cerr << "soundclassifier-offline: unknown option " << a << "\n" << kUsage;
      return 2;
    } else {
      opt.files.push_back(a);
    }
  }
  if (opt.files.empty()) {
    std::cerr << kUsage;
    return 2;
  }

  setDiagnosticStream(&std::cerr);  // standard output carries only the JSON lines
  return runReportingConfigErrors("soundclassifier-offline", [&]() -> int {
    ConfigSet config(opt.configDir);
    const int fs = cfg::getIntAtLeast(config.systemRoot(), "AudioCapturing", "Fs", 1);
    const std::vector<std::string> names = classNames(config.userRoot());
    int status = 0;
    std::map<int, long> perClass;
    long total = 0;
    uint64_t freshEstimates = 0;
    for (const std::string& path : opt.files) {
      AudioFile audio;
      std::string error;
      if (!readAudioFile(path, fs, audio, error)) {
        std::cerr << "soundclassifier-offline: " << path << ": cannot read: " << error << std::endl;
        status = 1;
        continue;
      }
      if (audio.resampled)
        std::cerr << "soundclassifier-offline: " << path << ": resampled from " << audio.originalRate
                  << " Hz to " << fs << " Hz" << std::endl;

      OfflinePipeline pipeline(config.userRoot(), config.systemRoot());
      const int nBlock = pipeline.nBlock();
      const long blocks = static_cast<long>(audio.samples.size() / static_cast<size_t>(nBlock));
      Progress progress(path, blocks, audio.samples.size() > static_cast<size_t>(5) * fs);
      int index = 0;
      auto print = [&](std::vector<ClassifiedEvent> events) {
        for (auto& ce : events) {
          MEvent& e = *ce.event;
          const int label = e.getLabel();
          const int numClasses = pipeline.manager().getClassification().getActive()->getNumClasses();
          std::string line = "{\"file\":" + jsonString(path) + ",\"index\":" + std::to_string(index++) +
                             ",\"header\":" + std::to_string(e.getStartNumBlock()) +
                             ",\"firstBlock\":" + std::to_string(ce.firstBlock) + ",\"onset\":" +
                             jsonNumber(static_cast<double>(ce.firstBlock - 1) * nBlock / fs) +
                             ",\"label\":" + std::to_string(label) + ",\"class\":" +
                             jsonString(label < static_cast<int>(names.size()) ? names[label] : "") +
                             ",\"df\":" + jsonArray(e.getDFVal(), numClasses);
          if (opt.features)
            line += ",\"features\":" +
                    jsonArray(e.getFeatures(), pipeline.manager().getFeatureExtractor().getFeatureVectorLength());
          std::cout << line << "}\n";
          ++perClass[label];
          ++total;
        }
      };
      for (long b = 0; b < blocks; ++b) {
        pipeline.feed(audio.samples.data() + static_cast<size_t>(b) * nBlock);
        print(pipeline.take());
        if ((b & 63) == 0) progress.update(b);
      }
      print(pipeline.finish());
      progress.done();
      std::cout.flush();
      freshEstimates += pipeline.segmentation().getFreshEstimates();
      if (pipeline.skippedEvents())
        std::cerr << "soundclassifier-offline: " << path << ": " << pipeline.skippedEvents()
                  << " events skipped (event ring full)" << std::endl;
    }
    if (opt.summary) {
      std::cerr << "events: " << total << "\n";
      std::cerr << "noise estimates made afresh (background changes): " << freshEstimates << "\n";
      for (const auto& [label, count] : perClass)
        std::cerr << "  " << label << " "
                  << (label < static_cast<int>(names.size()) ? names[label] : "?") << ": " << count
                  << "\n";
    }
    return status;
  });
}
