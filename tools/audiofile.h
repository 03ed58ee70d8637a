// Reading recordings for the offline tools: any format libsndfile reads,
// mixed down to mono by the mean of the channels and resampled to the
// configured rate with libsamplerate's best converter.
#pragma once

#include <string>
#include <vector>

namespace classification {

struct AudioFile {
  std::vector<float> samples;  // mono, at the requested rate
  int originalRate = 0;
  int channels = 0;
  bool resampled = false;
};

// False with a message in error when the file cannot be read.
bool readAudioFile(const std::string& path, int rate, AudioFile& out, std::string& error);

// Writes mono float samples as a WAV file (32-bit float).
bool writeWavFile(const std::string& path, const float* samples, long count, int rate,
                  std::string& error);

}  // namespace classification
