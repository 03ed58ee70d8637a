// soundclassifier-record: listens on the default input through the program's
// own segmentation and saves every detected event as a WAV file, ready for
// soundclassifier-train.
#include "app/config.h"
#include "audio/audio.h"
#include "segmentation/event.h"
#include "segmentation/segmentator.h"
#include "processing/validation.h"
#include "tools/atomic_file.h"
#include "tools/audiofile.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iostream>

using namespace classification;
namespace fs = std::filesystem;

namespace {

const char* kUsage =
    "usage: soundclassifier-record --out FOLDER [--class NAME] [--seconds N] [--config DIR]\n"
    "\n"
    "Listens on the default input device with the segmentation of the\n"
    "configuration and writes every detected event (NEvent x NBlock samples,\n"
    "mono float at Fs) as FOLDER[/NAME]/YYYYMMDD-HHMMSS-mmm.wav, one line per\n"
    "saved event. Stops after N seconds or on Ctrl-C.\n"
    "\n"
    "  --config DIR  directory holding ClassificationSystem.xml (default: the\n"
    "                working directory if it holds one, else\n"
    "                ~/.config/soundclassifier, else the installed defaults)\n"
    "  --help        this text; --version the version\n"
    "\n"
    "Exit status: 0 success, 1 no input device or a file that cannot be\n"
    "written, 2 configuration error.\n";

std::atomic<bool> stopRequested{false};
void onSignal(int) { stopRequested = true; }

std::string timeName() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", std::localtime(&t));
  char out[80];
  std::snprintf(out, sizeof out, "%s-%03ld", buf, ms);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  reportOversizedWrites();
  std::string configDir, out, cls;
  double seconds = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "soundclassifier-record " SC_VERSION "\n";
      return 0;
    } else if (a == "--out" && i + 1 < argc) out = argv[++i];
    else if (a == "--class" && i + 1 < argc) cls = argv[++i];
    else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (a == "--config" && i + 1 < argc) configDir = argv[++i];
    else {
      std::cerr << "soundclassifier-record: unknown argument " << a << "\n" << kUsage;
      return 2;
    }
  }
  if (out.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  if (configDir.empty()) configDir = defaultConfigDir();
  return runReportingConfigErrors("soundclassifier-record", [&]() -> int {
    ConfigSet config(configDir);
    checkConfiguration(config);  // what the window would refuse, refused here too
    const fs::path folder = cls.empty() ? fs::path(out) : fs::path(out) / cls;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
      std::cerr << "soundclassifier-record: " << folder.string() << ": " << ec.message() << "\n";
      return 1;
    }
    MSegmentator segmentator(config.userRoot(), config.systemRoot());
    MAudio audio(config.systemRoot());
    while (newEvent.tryAcquire()) {
    }
    if (!audio.initCallback(&segmentator, config.userRoot(), &MSegmentator::recordCallback)) {
      std::cerr << "soundclassifier-record: cannot capture from the default input device\n";
      return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::cerr << "listening" << (seconds > 0 ? " for " + std::to_string(seconds) + " s" : "")
              << "; Ctrl-C stops" << std::endl;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    const int fs = audio.getSampleRate();
    int saved = 0, status = 0;
    while (!stopRequested && (seconds <= 0 || std::chrono::steady_clock::now() < until)) {
      if (!newEvent.tryAcquire(1, 50)) continue;
      SC_TSAN_ACQUIRE(&newEvent);
      MEvent event(segmentator.getNEvent(), segmentator.getNBlock(), segmentator.getRingBuffer());
      const std::string path = (folder / (timeName() + ".wav")).string();
      std::string error;
      const bool written = replaceFileAtomically(path, [&](const std::string& temp, std::string& err) {
        return writeWavFile(temp, event.getAudioData(), event.getSizeofAudio(), fs, err);
      }, error);
      if (written) {
        std::cout << path << std::endl;
        ++saved;
      } else {
        std::cerr << "soundclassifier-record: " << path << ": " << error << std::endl;
        status = 1;
      }
    }
    audio.stopStream();
    std::cerr << saved << " events saved in " << folder.string() << std::endl;
    return status;
  });
}
