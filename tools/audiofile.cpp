#include "tools/audiofile.h"

#include <samplerate.h>
#include <sndfile.h>
#ifdef SC_HAVE_FLAC
#include <FLAC/stream_decoder.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace classification {

namespace {
constexpr long kChunk = 16384;  // input frames per read
constexpr long kMaxInterleaved = 8 * kChunk;  // samples: files with many channels read fewer frames
}

struct AudioStream::Impl {
  SNDFILE* file = nullptr;
#ifdef SC_HAVE_FLAC
  // FLAC is decoded by libFLAC directly: libsndfile's copy out of the
  // decoder's frames costs as much as the rest of a run. Only where its
  // samples are the same to the bit (16 and 24 bits scale exactly).
  FLAC__StreamDecoder* flac = nullptr;
  unsigned flacBits = 0;
  unsigned flacMaxBlock = 0;
  bool flacUsable = false;
  std::string flacError;
#endif
  SF_INFO info{};
  int rate = 0;
  SRC_STATE* src = nullptr;
  double ratio = 1.0;
  std::vector<float> interleaved;
  std::vector<float> mono;  // mixed-down input; [monoStart, monoEnd) not yet handed on
  size_t monoEnd = 0;
  size_t monoStart = 0;
  bool endOfFile = false;
  bool done = false;

  ~Impl() {
    if (src) src_delete(src);
    if (file) sf_close(file);
#ifdef SC_HAVE_FLAC
    if (flac) FLAC__stream_decoder_delete(flac);
#endif
  }

  bool isOpen() const {
#ifdef SC_HAVE_FLAC
    if (flac) return true;
#endif
    return file != nullptr;
  }

#ifdef SC_HAVE_FLAC
  static void flacMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* user) {
    Impl& s = *static_cast<Impl*>(user);
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    const FLAC__StreamMetadata_StreamInfo& si = m->data.stream_info;
    s.info.samplerate = static_cast<int>(si.sample_rate);
    s.info.channels = static_cast<int>(si.channels);
    s.info.frames = static_cast<sf_count_t>(si.total_samples);
    s.flacBits = si.bits_per_sample;
    s.flacMaxBlock = si.max_blocksize;
    s.flacUsable = (si.bits_per_sample == 16 || si.bits_per_sample == 24) && si.channels >= 1 &&
                   si.sample_rate >= 1;
  }

  static FLAC__StreamDecoderWriteStatus flacWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* user) {
    Impl& s = *static_cast<Impl*>(user);
    const int ch = static_cast<int>(frame->header.channels);
    if (ch != s.info.channels || frame->header.bits_per_sample != s.flacBits) {
      s.flacError = "a frame's channels or sample size differ from the stream's";
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const float norm = 1.0f / static_cast<float>(1L << (s.flacBits - 1));
    const size_t n = frame->header.blocksize;
    const size_t at = s.monoEnd;
    if (at + n > s.mono.size()) s.mono.resize(at + n);  // sized for the largest frame at open
    s.monoEnd = at + n;
    float* __restrict out = s.mono.data() + at;
    if (ch == 1) {
      const FLAC__int32* __restrict in = buffer[0];
      for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(in[i]) * norm;
    } else {
      for (size_t i = 0; i < n; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < ch; ++c) sum += static_cast<float>(buffer[c][i]) * norm;
        out[i] = sum / static_cast<float>(ch);
      }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }

  static void flacErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* user) {
    Impl& s = *static_cast<Impl*>(user);
    if (s.flacError.empty()) s.flacError = FLAC__StreamDecoderErrorStatusString[status];
  }

  // Opens path with libFLAC when it is a native FLAC file of a sample size
  // decoded exactly; false leaves the file to libsndfile.
  bool openFlac(const std::string& path) {
    char magic[4] = {};
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      const size_t got = std::fread(magic, 1, 4, f);
      std::fclose(f);
      if (got != 4 || std::memcmp(magic, "fLaC", 4) != 0) return false;
    } else {
      return false;
    }
    flac = FLAC__stream_decoder_new();
    if (flac && FLAC__stream_decoder_init_file(flac, path.c_str(), flacWrite, flacMetadata, flacErrorCallback,
                                               this) == FLAC__STREAM_DECODER_INIT_STATUS_OK &&
        FLAC__stream_decoder_process_until_end_of_metadata(flac) && flacUsable && flacError.empty()) {
      mono.resize(flacMaxBlock);  // frames are no longer than the header says, or mono grows
      return true;
    }
    if (flac) FLAC__stream_decoder_delete(flac);
    flac = nullptr;
    info = SF_INFO{};
    flacError.clear();
    return false;
  }

  // Decodes frames until there is something in mono or the stream ends.
  bool fillFlac(std::string& error) {
    monoStart = monoEnd = 0;
    while (monoEnd == 0 && !endOfFile) {
      const bool ok = FLAC__stream_decoder_process_single(flac);
      if (!flacError.empty() || !ok) {
        if (flacError.empty()) flacError = FLAC__StreamDecoderStateString[FLAC__stream_decoder_get_state(flac)];
        error = "FLAC decoding failed: " + flacError;
        monoEnd = 0;
        return false;
      }
      if (FLAC__stream_decoder_get_state(flac) == FLAC__STREAM_DECODER_END_OF_STREAM) endOfFile = true;
    }
    return true;
  }
#endif

  // A short file needs no full-size buffers: one more frame than its header
  // gives, so that one read still reaches its end.
  long framesPerRead() const {
    long n = std::min(kChunk, kMaxInterleaved / info.channels);
    if (info.frames > 0 && info.frames < n) n = static_cast<long>(info.frames) + 1;
    return std::max(1L, n);
  }

  // Refills mono from the file when it is used up. False on a read error.
  bool fill(std::string& error) {
    if (monoStart < monoEnd || endOfFile) return true;
#ifdef SC_HAVE_FLAC
    if (flac) return fillFlac(error);
#endif
    const int ch = info.channels;
    const long frames = framesPerRead();
    if (mono.size() < static_cast<size_t>(frames)) mono.resize(frames);
    const sf_count_t got = sf_readf_float(file, ch == 1 ? mono.data() : interleaved.data(), frames);
    if (got < 0 || (got == 0 && sf_error(file) != SF_ERR_NO_ERROR)) {
      error = sf_strerror(file);
      monoStart = monoEnd = 0;
      return false;
    }
    if (got < frames) endOfFile = true;
    monoEnd = static_cast<size_t>(got);
    monoStart = 0;
    if (ch == 1) return true;
    for (sf_count_t i = 0; i < got; ++i) {
      float sum = 0.0f;
      for (int c = 0; c < ch; ++c) sum += interleaved[static_cast<size_t>(i) * ch + c];
      mono[static_cast<size_t>(i)] = sum / static_cast<float>(ch);
    }
    return true;
  }
};

AudioStream::AudioStream() : impl(std::make_unique<Impl>()) {}
AudioStream::~AudioStream() = default;

bool AudioStream::open(const std::string& path, int rate, std::string& error, Converter converter) {
  impl = std::make_unique<Impl>();
#ifdef SC_HAVE_FLAC
  if (!impl->openFlac(path))
#endif
  {
    impl->file = sf_open(path.c_str(), SFM_READ, &impl->info);
    if (!impl->file) {
      error = sf_strerror(nullptr);
      return false;
    }
  }
  if (impl->info.channels < 1 || impl->info.samplerate < 1) {
    error = "no audio channels";
    return false;
  }
  impl->rate = rate;
  if (impl->info.channels > 1 && impl->file)
    impl->interleaved.resize(static_cast<size_t>(impl->framesPerRead()) * impl->info.channels);
  if (impl->info.samplerate != rate) {
    int rc = 0;
    impl->src = src_new(converter == Converter::Linear ? SRC_LINEAR : SRC_SINC_BEST_QUALITY, 1, &rc);
    if (!impl->src) {
      error = std::string("resampling failed: ") + src_strerror(rc);
      return false;
    }
    impl->ratio = static_cast<double>(rate) / impl->info.samplerate;
  }
  return true;
}

long AudioStream::read(float* out, long max, std::string& error) {
  Impl& s = *impl;
  if (!s.isOpen() || s.done || max <= 0) return 0;
  if (!s.src) {
    long n = 0;
    while (n < max) {
      if (!s.fill(error)) return -1;
      const size_t left = s.monoEnd - s.monoStart;
      if (left == 0) break;
      const size_t take = std::min(left, static_cast<size_t>(max - n));
      std::memcpy(out + n, s.mono.data() + s.monoStart, take * sizeof(float));
      s.monoStart += take;
      n += static_cast<long>(take);
    }
    if (n == 0) s.done = true;
    return n;
  }
  // The converter may hold input back; feed it until it gives something or
  // has flushed its tail after the end of the input.
  for (;;) {
    if (!s.fill(error)) return -1;
    SRC_DATA d{};
    d.data_in = s.mono.data() + s.monoStart;
    d.input_frames = static_cast<long>(s.monoEnd - s.monoStart);
    d.data_out = out;
    d.output_frames = max;
    d.src_ratio = s.ratio;
    d.end_of_input = s.endOfFile ? 1 : 0;  // what is left in mono is the last of the file
    const int rc = src_process(s.src, &d);
    if (rc != 0) {
      error = std::string("resampling failed: ") + src_strerror(rc);
      return -1;
    }
    s.monoStart += static_cast<size_t>(d.input_frames_used);
    if (d.output_frames_gen > 0) return d.output_frames_gen;
    if (d.end_of_input && d.input_frames_used == d.input_frames) {
      s.done = true;
      return 0;
    }
  }
}

int AudioStream::originalRate() const { return impl->info.samplerate; }
int AudioStream::channels() const { return impl->info.channels; }
bool AudioStream::resampled() const { return impl->src != nullptr; }

double audioFileSeconds(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return 0.0;
  sf_close(f);
  return info.samplerate > 0 && info.frames > 0 ? static_cast<double>(info.frames) / info.samplerate : 0.0;
}

bool readAudioFile(const std::string& path, int rate, AudioFile& out, std::string& error) {
  AudioStream stream;
  if (!stream.open(path, rate, error)) return false;
  out.originalRate = stream.originalRate();
  out.channels = stream.channels();
  out.resampled = stream.resampled();
  out.samples.clear();
  std::vector<float> chunk(65536);
  for (;;) {
    const long n = stream.read(chunk.data(), static_cast<long>(chunk.size()), error);
    if (n < 0) return false;
    if (n == 0) break;
    out.samples.insert(out.samples.end(), chunk.begin(), chunk.begin() + n);
  }
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
  const std::string writeError = written != count ? sf_strerror(f) : "";
  if (sf_close(f) != 0 && writeError.empty()) {
    error = "cannot close the file";
    return false;
  }
  if (written != count) {
    error = "short write: " + writeError;
    return false;
  }
  return true;
}

}  // namespace classification
