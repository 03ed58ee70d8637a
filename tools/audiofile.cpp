#include "tools/audiofile.h"

#include <samplerate.h>
#include <sndfile.h>

namespace classification {

bool readAudioFile(const std::string& path, int rate, AudioFile& out, std::string& error) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    error = sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.frames < 0) {
    sf_close(f);
    error = "no audio channels";
    return false;
  }
  std::vector<float> interleaved(static_cast<size_t>(info.frames) * info.channels);
  const sf_count_t got = sf_readf_float(f, interleaved.data(), info.frames);
  sf_close(f);
  std::vector<float> mono(static_cast<size_t>(got));
  for (sf_count_t i = 0; i < got; ++i) {
    float sum = 0.0f;
    for (int c = 0; c < info.channels; ++c) sum += interleaved[static_cast<size_t>(i) * info.channels + c];
    mono[static_cast<size_t>(i)] = sum / static_cast<float>(info.channels);
  }
  out.originalRate = info.samplerate;
  out.channels = info.channels;
  out.resampled = info.samplerate != rate;
  if (!out.resampled || mono.empty()) {
    out.samples = std::move(mono);
    return true;
  }
  const double ratio = static_cast<double>(rate) / info.samplerate;
  out.samples.assign(static_cast<size_t>(mono.size() * ratio) + 16, 0.0f);
  SRC_DATA data{};
  data.data_in = mono.data();
  data.input_frames = static_cast<long>(mono.size());
  data.data_out = out.samples.data();
  data.output_frames = static_cast<long>(out.samples.size());
  data.src_ratio = ratio;
  const int rc = src_simple(&data, SRC_SINC_BEST_QUALITY, 1);
  if (rc != 0) {
    error = std::string("resampling failed: ") + src_strerror(rc);
    return false;
  }
  out.samples.resize(static_cast<size_t>(data.output_frames_gen));
  return true;
}

bool writeWavFile(const std::string& path, const float* samples, long count, int rate,
                  std::string& error) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) {
    error = sf_strerror(nullptr);
    return false;
  }
  const sf_count_t written = sf_writef_float(f, samples, count);
  sf_close(f);
  if (written != count) {
    error = "short write";
    return false;
  }
  return true;
}

}  // namespace classification
