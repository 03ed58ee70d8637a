// soundclassifier-offline: runs recordings through the real detection and
// classification path and prints one line per event (JSON or CSV).
#include "app/config.h"
#include "features/fftw_lock.h"
#include "processing/offline_driver.h"
#include "processing/validation.h"
#include "tools/audiofile.h"
#include "tools/json.h"
#include "tools/ordered_output.h"
#include "tools/progress.h"

#include <fftw3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

using namespace classification;

namespace {

const char* kUsage =
    "usage: soundclassifier-offline [--config DIR] [--features] [--summary] [--format json|csv]\n"
    "                               [-j N] FILE...\n"
    "\n"
    "Runs each recording (WAV, FLAC, OGG, ...; mixed down to mono and resampled\n"
    "to the configured rate, read in chunks whatever its length) block by block\n"
    "through the same segmentation, feature extraction and classification as the\n"
    "live program, and prints one line per detected event on standard output:\n"
    "  file, index, header, firstBlock, onset (s), label, class, df[, features]\n"
    "as a JSON object per line, or with --format csv as rows under one header row\n"
    "(df0.., f0..). Output is grouped per file in the order the files are given.\n"
    "\n"
    "  --config DIR     directory holding ClassificationSystem.xml (default: the\n"
    "                   working directory if it holds one, else\n"
    "                   ~/.config/soundclassifier, else the installed defaults)\n"
    "  --features       add the feature vector of every event\n"
    "  --summary        print the number of events per class on standard error\n"
    "  --format FORMAT  json (default) or csv\n"
    "  -j N             files processed at once (default: the number of cores)\n"
    "  --help           this text; --version the version\n"
    "\n"
    "On a terminal, a progress line on standard error shows files done, hours of\n"
    "audio done and the speed as a multiple of real time.\n"
    "\n"
    "Exit status: 0 success, 1 an audio file could not be read, 2 bad usage or\n"
    "configuration error.\n";

struct Options {
  std::string configDir;
  bool features = false;
  bool summary = false;
  bool csv = false;
  unsigned jobs = 0;
  std::vector<std::string> files;
};

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

template <typename T>
std::string csvNumbers(const T* values, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += "," + jsonNumber(values[i]);
  return out;
}

// Shared by the workers: what the summary and the progress line need.
struct Totals {
  std::mutex mutex;
  std::map<int, long> perClass;
  long events = 0;
  uint64_t freshEstimates = 0;
  std::atomic<int64_t> samplesDone{0};
  std::atomic<int> filesDone{0};
  std::atomic<int> status{0};
};

class Runner {
 public:
  Runner(const Options& opt, ConfigSet& config, const std::vector<std::string>& names, OrderedOutput& out,
         Totals& totals)
      : opt(opt), out(out), totals(totals), names(names),
        fs(cfg::getIntAtLeast(config.systemRoot(), "AudioCapturing", "Fs", 1)) {}

  void run(size_t fileIndex, MOfflineDriver& driver) {
    const std::string& path = opt.files[fileIndex];
    AudioStream audio;
    std::string error;
    if (!audio.open(path, fs, error)) {
      fail(fileIndex, path, error);
      return;
    }
    if (audio.resampled())
      std::cerr << "soundclassifier-offline: " + path + ": resampled from " + std::to_string(audio.originalRate()) +
                       " Hz to " + std::to_string(fs) + " Hz\n";
    driver.restart();
    const int nBlock = driver.nBlock();
    const int numClasses = driver.numClasses();
    const int featureLength = driver.featureLength();
    std::vector<float> chunk(65536);
    std::vector<ClassifiedEvent> events;
    std::map<int, long> perClass;
    long index = 0;
    for (;;) {
      const long n = audio.read(chunk.data(), static_cast<long>(chunk.size()), error);
      if (n < 0) {
        fail(fileIndex, path, error);
        return;
      }
      if (n == 0) break;
      events.clear();
      driver.feedSamples(chunk.data(), static_cast<size_t>(n), events);
      totals.samplesDone += n;
      if (events.empty()) continue;
      std::string text;
      for (const ClassifiedEvent& ce : events) {
        const MEvent& e = *ce.event;
        const int label = e.getLabel();
        const std::string name = label >= 0 && label < static_cast<int>(names.size()) ? names[label] : "";
        const double onset = static_cast<double>(ce.firstBlock - 1) * nBlock / fs;
        if (opt.csv) {
          text += csvField(path) + "," + std::to_string(index) + "," + std::to_string(e.getStartNumBlock()) + "," +
                  std::to_string(ce.firstBlock) + "," + jsonNumber(onset) + "," + std::to_string(label) + "," +
                  csvField(name) + csvNumbers(e.getDFVal(), numClasses);
          if (opt.features) text += csvNumbers(e.getFeatures(), featureLength);
        } else {
          text += "{\"file\":" + jsonString(path) + ",\"index\":" + std::to_string(index) +
                  ",\"header\":" + std::to_string(e.getStartNumBlock()) +
                  ",\"firstBlock\":" + std::to_string(ce.firstBlock) + ",\"onset\":" + jsonNumber(onset) +
                  ",\"label\":" + std::to_string(label) + ",\"class\":" + jsonString(name) +
                  ",\"df\":" + jsonArray(e.getDFVal(), numClasses);
          if (opt.features) text += ",\"features\":" + jsonArray(e.getFeatures(), featureLength);
          text += "}";
        }
        text += "\n";
        ++index;
        ++perClass[label];
      }
      out.write(fileIndex, text);
    }
    {
      std::lock_guard<std::mutex> lock(totals.mutex);
      for (const auto& [label, count] : perClass) totals.perClass[label] += count;
      totals.events += index;
      totals.freshEstimates += driver.segmentation().getFreshEstimates();
    }
    out.finish(fileIndex);
    ++totals.filesDone;
  }

 private:
  void fail(size_t fileIndex, const std::string& path, const std::string& error) {
    std::cerr << "soundclassifier-offline: " + path + ": cannot read: " + error + "\n";
    totals.status = 1;
    out.finish(fileIndex);
    ++totals.filesDone;
  }

  const Options& opt;
  OrderedOutput& out;
  Totals& totals;
  std::vector<std::string> names;
  int fs;
};

// Hours of audio in all files, from their headers (for the progress line).
double totalSeconds(const std::vector<std::string>& files) {
  double total = 0;
  for (const std::string& f : files) total += audioFileSeconds(f);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "soundclassifier-offline " SC_VERSION "\n";
      return 0;
    } else if (a == "--config" && i + 1 < argc) {
      opt.configDir = argv[++i];
    } else if (a == "--features") {
      opt.features = true;
    } else if (a == "--summary") {
      opt.summary = true;
    } else if (a == "--format" && i + 1 < argc) {
      const std::string f = argv[++i];
      if (f != "json" && f != "csv") {
        std::cerr << "soundclassifier-offline: --format must be json or csv\n" << kUsage;
        return 2;
      }
      opt.csv = f == "csv";
    } else if ((a == "-j" || a == "--jobs") && i + 1 < argc) {
      char* end = nullptr;
      const long j = std::strtol(argv[++i], &end, 10);
      if (*end || j < 1 || j > 1024) {
        std::cerr << "soundclassifier-offline: -j needs a number of files from 1 to 1024\n" << kUsage;
        return 2;
      }
      opt.jobs = static_cast<unsigned>(j);
    } else if (a.rfind("-", 0) == 0 && a != "-") {
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
  if (opt.configDir.empty()) opt.configDir = defaultConfigDir();
  if (opt.jobs == 0) opt.jobs = std::max(1u, std::thread::hardware_concurrency());
  opt.jobs = std::min<unsigned>(opt.jobs, static_cast<unsigned>(opt.files.size()));

  setDiagnosticStream(&std::cerr);  // standard output carries only the events
  // Plans chosen by measurement may differ from run to run in the last bit
  // of a result; the offline results must be reproducible.
  setFftwPlannerFlags(FFTW_ESTIMATE);
  return runReportingConfigErrors("soundclassifier-offline", [&]() -> int {
    ConfigSet config(opt.configDir);
    const std::vector<std::string> names = checkConfiguration(config).names();
    // One driver per worker, all built here so that a configuration error
    // stops the run before any file is read.
    std::vector<std::unique_ptr<MOfflineDriver>> drivers;
    for (unsigned j = 0; j < opt.jobs; ++j)
      drivers.push_back(std::make_unique<MOfflineDriver>(config.userRoot(), config.systemRoot()));
    OrderedOutput out(opt.files.size(), stdout);
    if (opt.csv) {
      std::string head = "file,index,header,firstBlock,onset,label,class";
      for (int c = 0; c < drivers[0]->numClasses(); ++c) head += ",df" + std::to_string(c);
      if (opt.features)
        for (int f = 0; f < drivers[0]->featureLength(); ++f) head += ",f" + std::to_string(f);
      std::fputs((head + "\n").c_str(), stdout);
    }
    Totals totals;
    Runner runner(opt, config, names, out, totals);
    const bool terminal = progressWanted();
    const double seconds = terminal ? totalSeconds(opt.files) : 0.0;
    const int fs = drivers[0]->sampleRate();

    std::atomic<size_t> next{0};
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    unsigned running = opt.jobs;
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < opt.jobs; ++j)
      workers.emplace_back([&, j] {
        for (size_t i; (i = next++) < opt.files.size();) runner.run(i, *drivers[j]);
        std::lock_guard<std::mutex> lock(doneMutex);
        --running;
        doneSignal.notify_all();
      });
    const auto start = std::chrono::steady_clock::now();
    ProgressLine progress(terminal);
    {
      std::unique_lock<std::mutex> lock(doneMutex);
      while (!doneSignal.wait_for(lock, std::chrono::milliseconds(250), [&] { return running == 0; })) {
        const double done = static_cast<double>(totals.samplesDone.load()) / fs;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char line[160];
        std::snprintf(line, sizeof line, "files %d/%zu, %.2f of %.2f h audio, %.0fx real time",
                      totals.filesDone.load(), opt.files.size(), done / 3600, seconds / 3600,
                      elapsed > 0 ? done / elapsed : 0.0);
        progress.show(line);
      }
    }
    for (std::thread& t : workers) t.join();
    progress.done();
    std::fflush(stdout);

    if (opt.summary) {
      std::cerr << "events: " << totals.events << "\n";
      std::cerr << "noise estimates made afresh (background changes): " << totals.freshEstimates << "\n";
      for (const auto& [label, count] : totals.perClass)
        std::cerr << "  " << label << " "
                  << (label >= 0 && label < static_cast<int>(names.size()) ? names[label] : "?") << ": "
                  << count << "\n";
    }
    if (!out.ok()) {
      std::cerr << "soundclassifier-offline: writing the output failed\n";
      return 1;
    }
    return totals.status.load();
  });
}
