// Per-block cost of the audio callback, per-event cost of the worker, and the
// same MFCC work done with aubio for comparison. Uses the shipped
// configuration.
#include "processing/event_manager.h"
#include "processing/offline_driver.h"
#include "segmentation/block_feeder.h"
#include "segmentation/segmentator.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#ifdef SC_HAVE_AUBIO
#include <aubio/aubio.h>
#endif

using namespace classification;

namespace {

const ConfigSet& shipped() {
  static ConfigSet set(SC_SOURCE_DIR "/config");
  return set;
}

std::vector<float> signal(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / 44100;
    x[i] = static_cast<float>(0.4 * std::exp(-12 * t) * std::sin(2 * M_PI * 900 * t)) + 0.01f * u(rng);
  }
  return x;
}

// A linear model of the feature vector's dimension, four classes.
std::string modelDocument(int d) {
  std::string mu, inv, classes;
  for (int j = 0; j < d; ++j) {
    mu += "0.1 ";
    inv += "2 ";
  }
  for (int c = 0; c < 4; ++c) {
    std::string w;
    for (int j = 0; j < d; ++j) w += std::to_string(0.01 * ((c * 7 + j) % 11) - 0.05) + " ";
    classes += "<C ClassId=\"" + std::to_string(c) + "\"><b Value=\"0.1\"/><w Elements=\"" +
               std::to_string(d) + "\">" + w + "</w></C>";
  }
  return "<Classifier><NumClasses Value=\"4\"/><UseClassifier Type=\"MLinSVM\"/><Normalization><mu>" +
         mu + "</mu><invStd>" + inv + "</invStd></Normalization><DiscriminantFunction>" + classes +
         "</DiscriminantFunction></Classifier>";
}

void BM_RecordCallback(benchmark::State& state) {
  const ConfigSet& c = shipped();
  MSegmentator seg(c.userRoot(), c.systemRoot());
  const int nBlock = seg.getNBlock();
  MBlockFeeder feeder(seg, c.userRoot());
  // Noise with a burst every ~0.7 s, so onsets, events and updates happen.
  const auto x = signal(static_cast<size_t>(nBlock) * 4096, 3);
  std::vector<float> stream(x.size());
  for (size_t i = 0; i < x.size(); ++i)
    stream[i] = ((i / static_cast<size_t>(nBlock)) % 60 < 15) ? x[i % 20000] : 0.01f * x[(i * 7) % x.size()];
  size_t b = 0;
  for (auto _ : state) {
    feeder.feed(stream.data() + b * nBlock);  // the callback, the display ring emptied
    b = (b + 1) % 4096;
    // Stand-in for the worker: keep the event ring from filling.
    while (newEvent.tryAcquire()) {
      RingBuffer* ring = seg.getRingBuffer();
      AdvanceRingBufferReadIndex(ring, 1 + static_cast<int64_t>(seg.getNEvent()) * nBlock);
    }
  }
  const double blockSeconds = static_cast<double>(nBlock) / 44100.0;
  // Seconds of audio handled per second of processing; its inverse is the
  // fraction of each block's duration spent in the callback.
  state.counters["realtime_factor"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * blockSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordCallback);

void BM_FeatureExtraction(benchmark::State& state) {
  MFeatureExtractor fe(shipped().systemRoot());
  const auto x = signal(20 * 512, 5);
  for (auto _ : state) {
    MEvent e(20, 512, 1, x.data());
    fe.processEvent(&e);
    benchmark::DoNotOptimize(e.getFeatures());
  }
}
BENCHMARK(BM_FeatureExtraction)->Unit(benchmark::kMicrosecond);

void BM_WorkerStep(benchmark::State& state) {
  // The shipped system document with a model of the full dimension.
  static std::string doc;
  MFeatureExtractor probe(shipped().systemRoot());
  doc = "<S><AudioCapturing><NBlock Value=\"512\"/><Fs Value=\"44100\"/></AudioCapturing>"
        "<Event><NEvent Value=\"20\"/></Event></S>";
  std::vector<char> text(doc.begin(), doc.end());
  text.push_back('\0');
  XmlDocument xml;
  xml.parse<rapidxml::parse_no_data_nodes>(text.data());
  std::string model = modelDocument(probe.getFeatureVectorLength());
  std::vector<char> modelText(model.begin(), model.end());
  modelText.push_back('\0');
  XmlDocument modelXml;
  modelXml.parse<rapidxml::parse_no_data_nodes>(modelText.data());
  XmlNode* root = xml.first_node();
  root->append_node(modelXml.clone_node(modelXml.first_node()));
  XmlNode* fe = xml.clone_node(cfg::element(shipped().systemRoot(), "FeatureExtractor"));
  root->append_node(fe);
  MEventManager manager(root, nullptr);
  const auto x = signal(20 * 512, 6);
  for (auto _ : state) {
    MEvent e(20, 512, 1, x.data());
    manager.processOne(&e);
    benchmark::DoNotOptimize(e.getLabel());
  }
}
BENCHMARK(BM_WorkerStep)->Unit(benchmark::kMicrosecond);

// The whole offline path per block on the shipped configuration and model:
// segmentation, and features and classification of every event.
void BM_OfflineDriver(benchmark::State& state) {
  const ConfigSet& c = shipped();
  MOfflineDriver driver(c.userRoot(), c.systemRoot());
  const int nBlock = driver.nBlock();
  const auto x = signal(static_cast<size_t>(nBlock) * 4096, 3);
  std::vector<float> stream(x.size());
  for (size_t i = 0; i < x.size(); ++i)
    stream[i] = ((i / static_cast<size_t>(nBlock)) % 60 < 15) ? x[i % 20000] : 0.01f * x[(i * 7) % x.size()];
  std::vector<ClassifiedEvent> events;
  size_t b = 0;
  for (auto _ : state) {
    driver.feed(stream.data() + b * nBlock, events);
    b = (b + 1) % 4096;
    events.clear();
  }
  state.counters["realtime_factor"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * nBlock / driver.sampleRate(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OfflineDriver);

#ifdef SC_HAVE_AUBIO
// aubio's MFCC (40 filters, 13 coefficients) on the same 39 frames of 512
// samples at a hop of 256, each frame windowed and transformed by aubio.
void BM_AubioMfcc(benchmark::State& state) {
  const uint_t n = 512, hop = 256;
  aubio_pvoc_t* pv = new_aubio_pvoc(n, hop);
  aubio_mfcc_t* mfcc = new_aubio_mfcc(n, 40, 13, 44100);
  fvec_t* in = new_fvec(hop);
  cvec_t* spectrum = new_cvec(n);
  fvec_t* out = new_fvec(13);
  const auto x = signal(20 * 512, 5);
  for (auto _ : state) {
    for (uint_t f = 0; f < 2 * 20 - 1 + 1; ++f) {
      for (uint_t i = 0; i < hop; ++i) in->data[i] = x[f * hop + i];
      aubio_pvoc_do(pv, in, spectrum);
      aubio_mfcc_do(mfcc, spectrum, out);
    }
    benchmark::DoNotOptimize(out->data[0]);
  }
  del_fvec(out);
  del_cvec(spectrum);
  del_fvec(in);
  del_aubio_mfcc(mfcc);
  del_aubio_pvoc(pv);
}
BENCHMARK(BM_AubioMfcc)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
