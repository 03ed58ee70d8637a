// The offline runner end to end on generated recordings.
#include "tests/support/process.h"
#include "tests/support/testconfig.h"
#include "tools/audiofile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <sndfile.h>

using namespace classification;

namespace {

using sctest::RunResult;

RunResult runner(const std::string& args) {
  return sctest::runCommand(std::string(OFFLINE_RUNNER) + " " + args);
}

struct Line {
  long firstBlock;
  double onset;
  int label;
  std::string cls;
};

std::vector<Line> parse(const std::string& out) {
  std::vector<Line> lines;
  auto field = [](const std::string& line, const std::string& key) {
    const size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return std::string();
    const size_t from = at + key.size() + 3;
    if (line[from] == '"') return line.substr(from + 1, line.find('"', from + 1) - from - 1);
    return line.substr(from, line.find_first_of(",}", from) - from);
  };
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    EXPECT_EQ(line.rfind("{\"file\":", 0), 0u) << line;
    lines.push_back({std::stol(field(line, "firstBlock")), std::stod(field(line, "onset")),
                     std::stoi(field(line, "label")), field(line, "class")});
  }
  return lines;
}

// Quiet noise with bursts at the given times: noise bursts, or tones where
// tonal[i] is set.
std::vector<float> burstSignal(double seconds, int fs, const std::vector<double>& times,
                               const std::vector<bool>& tonal = {}, double length = 0.08,
                               double decay = 30.0) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> x(static_cast<size_t>(seconds * fs));
  for (float& v : x) v = 0.001f * u(rng);
  for (size_t i = 0; i < times.size(); ++i) {
    const size_t start = static_cast<size_t>(times[i] * fs);
    for (size_t n = 0; n < static_cast<size_t>(length * fs) && start + n < x.size(); ++n) {
      const double env = 0.5 * std::exp(-decay * n / fs);
      const double s = (i < tonal.size() && tonal[i]) ? std::sin(2 * M_PI * 800 * n / fs) : u(rng);
      x[start + n] += static_cast<float>(env * s);
    }
  }
  return x;
}

std::string wav(const sctest::TempDir& dir, const std::string& name, const std::vector<float>& x,
                int fs) {
  std::string error;
  const std::string path = dir.path() + "/" + name;
  EXPECT_TRUE(writeWavFile(path, x.data(), static_cast<long>(x.size()), fs, error)) << error;
  return path;
}

// Interleaved float frames written by libsndfile in the given format.
std::string soundFile(const sctest::TempDir& dir, const std::string& name, const std::vector<float>& data,
                      int channels, int fs, int format) {
  SF_INFO info{};
  info.samplerate = fs;
  info.channels = channels;
  info.format = format;
  const std::string path = dir.path() + "/" + name;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_TRUE(f) << sf_strerror(nullptr);
  if (!f) return path;
  EXPECT_EQ(sf_writef_float(f, data.data(), static_cast<sf_count_t>(data.size() / channels)),
            static_cast<sf_count_t>(data.size() / channels));
  sf_close(f);
  return path;
}

const std::string kShipped = std::string(SC_SOURCE_DIR) + "/config";

}  // namespace

TEST(OfflineRunner, EveryBurstGivesOneEventAtItsOnset) {
  sctest::TempDir dir;
  std::vector<double> times;
  for (double t = 2.0; t < 19.0; t += 1.37) times.push_back(t);
  const std::string file = wav(dir, "bursts.wav", burstSignal(20.0, 44100, times), 44100);
  const RunResult r = runner("--config " + kShipped + " " + file);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = parse(r.out);
  ASSERT_EQ(lines.size(), times.size()) << r.out;
  const double block = 512.0 / 44100;
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_LE(std::fabs(lines[i].onset - times[i]), block) << "burst " << i;
    EXPECT_NEAR(lines[i].onset, (lines[i].firstBlock - 1) * block, 1e-6);
  }
  // The same recording again (a fresh segmentator per file) gives the same.
  const RunResult twice = runner("--config " + kShipped + " " + file + " " + file);
  const auto both = parse(twice.out);
  ASSERT_EQ(both.size(), 2 * times.size());
  for (size_t i = 0; i < times.size(); ++i) EXPECT_EQ(both[i].firstBlock, both[i + times.size()].firstBlock);
}

TEST(OfflineRunner, StereoAndOtherRatesAreMixedAndResampled) {
  sctest::TempDir dir;
  const std::vector<double> times = {1.5, 2.5, 3.5};
  const auto mono = burstSignal(5.0, 22050, times);
  // Stereo: the burst in the left channel only (the mean halves it).
  std::vector<float> stereo(mono.size() * 2, 0.0f);
  for (size_t i = 0; i < mono.size(); ++i) stereo[2 * i] = 2 * mono[i];
  const std::string path = soundFile(dir, "stereo.flac", stereo, 2, 22050, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  const RunResult r = runner("--config " + kShipped + " --features " + path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("resampled from 22050 Hz to 44100 Hz"), std::string::npos) << r.err;
  const auto lines = parse(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  for (size_t i = 0; i < 3; ++i) EXPECT_LE(std::fabs(lines[i].onset - times[i]), 0.02);
  EXPECT_NE(r.out.find("\"features\":["), std::string::npos);
}

// Many channels are read a few frames at a time (a header may claim a
// thousand): every frame still comes out as the mean of its channels.
TEST(AudioStream, ManyChannelsAreMixedAcrossReads) {
  sctest::TempDir dir;
  const int channels = 200, frames = 3000;
  std::vector<float> data(static_cast<size_t>(channels) * frames);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      data[static_cast<size_t>(i) * channels + c] = c == i % channels ? 0.5f : 0.0f;
  const std::string path = soundFile(dir, "many.wav", data, channels, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  AudioStream stream;
  std::string error;
  ASSERT_TRUE(stream.open(path, 44100, error)) << error;
  std::vector<float> out(frames + 10);
  long total = 0;
  for (long n; (n = stream.read(out.data() + total, 700, error)) > 0;) total += n;
  ASSERT_EQ(total, frames) << error;
  for (int i = 0; i < frames; ++i) ASSERT_EQ(out[i], 0.5f / channels) << i;
}

// FLAC is decoded without libsndfile where the samples come out the same:
// every sample size and channel count gives what libsndfile's own reading
// and the mean of the channels give, to the bit.
TEST(AudioStream, FlacSamplesMatchLibsndfile) {
  sctest::TempDir dir;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-0.9f, 0.9f);
  const int frames = 100000;
  for (int subtype : {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_S8})
    for (int channels : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(subtype) + " " + std::to_string(channels));
      std::vector<float> data(static_cast<size_t>(frames) * channels);
      for (float& v : data) v = u(rng);
      const std::string path = soundFile(dir, "t.flac", data, channels, 44100, SF_FORMAT_FLAC | subtype);
      std::vector<float> expected(data.size());
      SF_INFO readInfo{};
      SNDFILE* f = sf_open(path.c_str(), SFM_READ, &readInfo);
      ASSERT_TRUE(f);
      ASSERT_EQ(sf_readf_float(f, expected.data(), frames), frames);
      sf_close(f);
      AudioStream stream;
      std::string error;
      ASSERT_TRUE(stream.open(path, 44100, error)) << error;
      EXPECT_EQ(stream.channels(), channels);
      std::vector<float> out(frames + 10);
      long total = 0;
      for (long n; (n = stream.read(out.data() + total, 4000, error)) > 0;) total += n;
      ASSERT_EQ(total, frames) << error;
      for (int i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c) sum += expected[static_cast<size_t>(i) * channels + c];
        ASSERT_EQ(out[i], sum / static_cast<float>(channels)) << i;
      }
    }
}

// A FLAC file damaged in the middle stops with a message, never a crash.
TEST(AudioStream, DamagedFlacIsAnError) {
  sctest::TempDir dir;
  const auto x = burstSignal(3.0, 44100, {1.0});
  const std::string path = soundFile(dir, "bad.flac", x, 1, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  std::string bytes = sctest::readFile(path);
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] = static_cast<char>(0xff);
  std::ofstream(path, std::ios::binary) << bytes;
  AudioStream stream;
  std::string error;
  ASSERT_TRUE(stream.open(path, 44100, error)) << error;
  std::vector<float> out(4096);
  long n;
  while ((n = stream.read(out.data(), 4096, error)) > 0) {}
  EXPECT_EQ(n, -1);
  EXPECT_NE(error.find("FLAC"), std::string::npos) << error;
  const RunResult r = runner("--config " + kShipped + " " + path);
  EXPECT_EQ(r.status, 1) << r.err;
}

TEST(OfflineRunner, HandMadeModelSeparatesTonesFromNoise) {
  sctest::TempDir dir;
  // Centroid mean only: low for an 800 Hz tone, near 0.5 for white noise.
  const std::string features =
      R"(<UseFeatures><F Name="MCentroid"/></UseFeatures><MSTFT><NFFT Value="512"/><Overlap Value="1"/></MSTFT>
      <MCentroid><Mean Value="1"/><Var Value="0"/><Poly Value="0"/></MCentroid>)";
  const std::string model =
      R"(<NumClasses Value="2"/><UseClassifier Type="MLinSVM"/>
      <Normalization><mu>0.25</mu><invStd>10</invStd></Normalization>
      <DiscriminantFunction>
        <Class ClassId="1"><b Value="0"/><w Elements="1">1</w></Class>
        <Class ClassId="0"><b Value="0"/><w Elements="1">-1</w></Class>
      </DiscriminantFunction>)";
  dir.file("user.xml", sctest::readFile(kShipped + "/UserParameters.xml"));
  dir.file("system.xml", sctest::systemDocument({{"AudioCapturing/NBlock", "512"}, {"AudioCapturing/Fs", "44100"},
                                                 {"Event/NEvent", "20"}},
                                                features, model));
  dir.index("user.xml", "system.xml");
  std::vector<double> times;
  std::vector<bool> tonal;
  for (int i = 0; i < 12; ++i) {
    times.push_back(2.0 + 0.9 * i);
    tonal.push_back(i % 3 != 1);
  }
  const std::string file = wav(dir, "mixed.wav", burstSignal(14.0, 44100, times, tonal, 0.3, 3.0), 44100);
  const RunResult r = runner("--config " + dir.path() + " --summary " + file);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = parse(r.out);
  ASSERT_EQ(lines.size(), times.size()) << r.out;
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_EQ(lines[i].label, tonal[i] ? 0 : 1) << "burst " << i;
    EXPECT_EQ(lines[i].cls, tonal[i] ? "clap" : "knock");
  }
  EXPECT_NE(r.err.find("0 clap: 8"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 knock: 4"), std::string::npos) << r.err;
}

TEST(OfflineRunner, ExitStatusAndMessages) {
  sctest::TempDir dir;
  RunResult r = runner("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: soundclassifier-offline"), std::string::npos);
  r = runner("--config " + kShipped + " " + dir.path() + "/missing.wav");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.wav: cannot read"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  dir.index("nope.xml", "s.xml");
  r = runner("--config " + dir.path() + " x.wav");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("nope.xml: cannot open file"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

namespace {

// Files of different lengths finish out of order under -j; the output must
// not.
std::vector<std::string> burstFiles(const sctest::TempDir& dir, int count) {
  std::vector<std::string> files;
  for (int k = 0; k < count; ++k) {
    std::vector<double> times;
    for (double t = 2.0 + 0.1 * k; t < 4.0 + 3 * (count - k); t += 0.9) times.push_back(t);
    files.push_back(wav(dir, "f" + std::to_string(k) + ".wav", burstSignal(5.0 + 3 * (count - k), 44100, times), 44100));
  }
  return files;
}

// An AIFF of signed 8-bit mono samples, written sparse: silence except for
// clicks (10 ms at full scale) at the given sample positions.
void sparseAiff(const std::string& path, uint64_t frames, const std::vector<uint64_t>& clicks) {
  auto be32 = [](std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  std::string h = "FORM";
  be32(h, static_cast<uint32_t>(4 + 26 + 16 + frames));
  h += "AIFFCOMM";
  be32(h, 18);
  h += std::string("\x00\x01", 2);
  be32(h, static_cast<uint32_t>(frames));
  h += std::string("\x00\x08", 2);
  h += std::string("\x40\x0e\xac\x44\x00\x00\x00\x00\x00\x00", 10);  // 44100 as 80-bit extended
  h += "SSND";
  be32(h, static_cast<uint32_t>(8 + frames));
  be32(h, 0);
  be32(h, 0);
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(h.data(), 1, h.size(), f);
  std::mt19937 rng(3);
  for (uint64_t c : clicks) {
    std::vector<char> click(441);
    for (char& v : click) v = static_cast<char>(static_cast<int>(rng() % 200) - 100);
    ASSERT_EQ(fseeko(f, static_cast<off_t>(h.size() + c), SEEK_SET), 0);
    std::fwrite(click.data(), 1, click.size(), f);
  }
  // The last byte makes the file as long as its header says.
  ASSERT_EQ(fseeko(f, static_cast<off_t>(h.size() + frames - 1), SEEK_SET), 0);
  std::fputc(0, f);
  std::fclose(f);
}

}  // namespace

TEST(OfflineRunner, ParallelFilesKeepTheirOrderAndCsvMatchesJson) {
  sctest::TempDir dir;
  const auto files = burstFiles(dir, 5);
  std::string list;
  for (const auto& f : files) list += " " + f;
  const RunResult one = runner("--config " + kShipped + " -j 1" + list);
  const RunResult three = runner("--config " + kShipped + " -j 3" + list);
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(three.status, 0) << three.err;
  EXPECT_EQ(one.out, three.out);
  // Grouped per file, in the order given, with every file's events.
  std::vector<std::string> order;
  std::istringstream in(one.out);
  for (std::string line; std::getline(in, line);) {
    const std::string file = line.substr(9, line.find('"', 9) - 9);
    if (order.empty() || order.back() != file) order.push_back(file);
  }
  EXPECT_EQ(order, files);

  const RunResult csv = runner("--config " + kShipped + " -j 2 --format csv --features" + list);
  ASSERT_EQ(csv.status, 0) << csv.err;
  std::istringstream rows(csv.out);
  std::string head;
  std::getline(rows, head);
  EXPECT_EQ(head.rfind("file,index,header,firstBlock,onset,label,class,df0,df1,df2,df3,f0,", 0), 0u) << head;
  const std::vector<Line> json = parse(one.out);
  size_t n = 0;
  for (std::string row; std::getline(rows, row); ++n) {
    ASSERT_LT(n, json.size());
    std::vector<std::string> cells;
    std::stringstream ss(row);
    for (std::string c; std::getline(ss, c, ',');) cells.push_back(c);
    EXPECT_EQ(std::stol(cells[3]), json[n].firstBlock);
    EXPECT_EQ(std::stod(cells[4]), json[n].onset);
    EXPECT_EQ(cells[6], json[n].cls);
  }
  EXPECT_EQ(n, json.size());
  EXPECT_EQ(runner("--config " + kShipped + " --format xml" + list).status, 2);
  EXPECT_EQ(runner("--config " + kShipped + " -j 0" + list).status, 2);
}

// More than 2^31 samples, read in chunks: onsets past the 32-bit range are
// right, and the run fits in far less memory than the samples would take.
TEST(OfflineRunner, LongerThan2To31SamplesInBoundedMemory) {
  sctest::TempDir dir;
  const uint64_t frames = (uint64_t{1} << 31) + 20 * 44100;
  const std::vector<uint64_t> clicks = {5 * 44100, (uint64_t{1} << 31) - 3 * 44100,
                                        (uint64_t{1} << 31) + 5 * 44100, (uint64_t{1} << 31) + 15 * 44100};
  const std::string path = dir.path() + "/long.aiff";
  sparseAiff(path, frames, clicks);
  // Large blocks keep the test short; the positions are what matters.
  sctest::TestConfig config({{"AudioCapturing/NBlock", "4096"}, {"AudioCapturing/Fs", "44100"},
                             {"Event/NEvent", "4"}, {"Segmentation/FacMinEvent", "0.25"},
                             {"Segmentation/UpdateThresh", "1"}, {"GraphicalUserInterface/M", "16"}});
  std::string limit;
#ifndef SC_SANITIZED
  // A whole-file read would need 8 GiB of floats.
  limit = "ulimit -v 1000000; ";
#endif
  const RunResult r =
      sctest::runCommand("sh -c '" + limit + "exec " + OFFLINE_RUNNER + " --config " + config.dir() + " " + path + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Line> lines = parse(r.out);
  ASSERT_EQ(lines.size(), clicks.size()) << r.out;
  for (size_t i = 0; i < clicks.size(); ++i) {
    const int64_t block = static_cast<int64_t>(clicks[i] / 4096) + 1;  // the block holding the click
    EXPECT_NEAR(lines[i].firstBlock, block, 1) << i;
    EXPECT_NEAR(lines[i].onset, static_cast<double>(clicks[i]) / 44100, 4096.0 / 44100) << i;
  }
}
