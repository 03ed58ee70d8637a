// The offline runner end to end on generated recordings.
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

struct RunResult {
  int status;
  std::string out, err;
};

RunResult runner(const std::string& args, const sctest::TempDir& dir) {
  const std::string errFile = dir.path() + "/stderr.txt";
  const std::string cmd = std::string(OFFLINE_RUNNER) + " " + args + " 2>" + errFile;
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int rc = pclose(p);
  std::ifstream e(errFile);
  std::string err((std::istreambuf_iterator<char>(e)), std::istreambuf_iterator<char>());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out, err};
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

const std::string kShipped = std::string(SC_SOURCE_DIR) + "/config";

}  // namespace

TEST(OfflineRunner, EveryBurstGivesOneEventAtItsOnset) {
  sctest::TempDir dir;
  std::vector<double> times;
  for (double t = 2.0; t < 19.0; t += 1.37) times.push_back(t);
  const std::string file = wav(dir, "bursts.wav", burstSignal(20.0, 44100, times), 44100);
  const RunResult r = runner("--config " + kShipped + " " + file, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = parse(r.out);
  ASSERT_EQ(lines.size(), times.size()) << r.out;
  const double block = 512.0 / 44100;
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_LE(std::fabs(lines[i].onset - times[i]), block) << "burst " << i;
    EXPECT_NEAR(lines[i].onset, (lines[i].firstBlock - 1) * block, 1e-6);
  }
  // The same recording again (a fresh segmentator per file) gives the same.
  const RunResult twice = runner("--config " + kShipped + " " + file + " " + file, dir);
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
  SF_INFO info{};
  info.samplerate = 22050;
  info.channels = 2;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  const std::string path = dir.path() + "/stereo.flac";
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_TRUE(f);
  sf_writef_float(f, stereo.data(), static_cast<sf_count_t>(mono.size()));
  sf_close(f);
  const RunResult r = runner("--config " + kShipped + " --features " + path, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("resampled from 22050 Hz to 44100 Hz"), std::string::npos) << r.err;
  const auto lines = parse(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  for (size_t i = 0; i < 3; ++i) EXPECT_LE(std::fabs(lines[i].onset - times[i]), 0.02);
  EXPECT_NE(r.out.find("\"features\":["), std::string::npos);
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
  std::ifstream userIn(kShipped + "/UserParameters.xml");
  std::string user((std::istreambuf_iterator<char>(userIn)), std::istreambuf_iterator<char>());
  dir.file("user.xml", user);
  std::string system = sctest::systemDocument(
      {{"AudioCapturing/NBlock", "512"}, {"AudioCapturing/Fs", "44100"}, {"Event/NEvent", "20"}},
      features, model);
  dir.file("system.xml", system);
  dir.file("ClassificationSystem.xml",
           "<ClassificationSystem><UserEditableParameters>user.xml</UserEditableParameters>"
           "<S>system.xml</S></ClassificationSystem>");
  std::vector<double> times;
  std::vector<bool> tonal;
  for (int i = 0; i < 12; ++i) {
    times.push_back(2.0 + 0.9 * i);
    tonal.push_back(i % 3 != 1);
  }
  const std::string file = wav(dir, "mixed.wav", burstSignal(14.0, 44100, times, tonal, 0.3, 3.0), 44100);
  const RunResult r = runner("--config " + dir.path() + " --summary " + file, dir);
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
  RunResult r = runner("--help", dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: soundclassifier-offline"), std::string::npos);
  r = runner("--config " + kShipped + " " + dir.path() + "/missing.wav", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.wav: cannot read"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  dir.file("ClassificationSystem.xml", "<ClassificationSystem><UserEditableParameters>nope.xml"
                                       "</UserEditableParameters><S>s.xml</S></ClassificationSystem>");
  r = runner("--config " + dir.path() + " x.wav", dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("nope.xml: cannot open file"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}
