// Reading recordings for the offline tools: any format libsndfile reads
// (native FLAC through libFLAC, with the same samples), mixed down to mono
// by the mean of the channels and resampled to the configured rate with
// libsamplerate's best converter, in chunks, so that memory does not grow
// with the length of a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace classification {

class AudioStream {
 public:
  AudioStream();
  ~AudioStream();
  AudioStream(const AudioStream&) = delete;
  AudioStream& operator=(const AudioStream&) = delete;

  // libsamplerate's converters by name; the tools use the best one.
  enum class Converter { Best, Linear };

  // False with a message in error when the file cannot be opened.
  bool open(const std::string& path, int rate, std::string& error, Converter converter = Converter::Best);
  // Up to max mono samples at the requested rate into out: their number,
  // 0 at the end of the file, -1 with a message in error on a failure.
  long read(float* out, long max, std::string& error);

  int originalRate() const;
  int channels() const;
  bool resampled() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

// Duration in seconds from the file's header (0 when it cannot be read).
double audioFileSeconds(const std::string& path);

struct AudioFile {
  std::vector<float> samples;  // mono, at the requested rate
  int originalRate = 0;
  int channels = 0;
  bool resampled = false;
};

// A whole (short) recording through AudioStream. False with a message in
// error when the file cannot be read.
bool readAudioFile(const std::string& path, int rate, AudioFile& out, std::string& error);

// Writes mono float samples as a WAV file (32-bit float).
bool writeWavFile(const std::string& path, const float* samples, long count, int rate,
                  std::string& error);

}  // namespace classification
