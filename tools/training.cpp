#include "tools/training.h"

#include "classifiers/classificator.h"
#include "features/feature.h"
#include "processing/offline_driver.h"

#include <armadillo>
#include <linear.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <random>

namespace classification {

namespace {

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

std::string list(const std::vector<float>& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out += ' ';
    out += number(v[i]);
  }
  return out;
}

std::vector<double> normalised(const Example& e, const Normalization& norm) {
  std::vector<double> x(norm.mu.size());
  for (size_t j = 0; j < x.size(); ++j) x[j] = (e.features[j] - norm.mu[j]) * norm.invStd[j];
  return x;
}

void quiet(const char*) {}

// LIBLINEAR problem with the bias feature; owns its nodes.
struct LinearProblem {
  LinearProblem(const std::vector<const Example*>& examples, const Normalization& norm) {
    const int d = static_cast<int>(norm.mu.size());
    nodes.resize(examples.size() * static_cast<size_t>(d + 2));
    for (size_t i = 0; i < examples.size(); ++i) {
      feature_node* row = &nodes[i * static_cast<size_t>(d + 2)];
      const auto x = normalised(*examples[i], norm);
      int k = 0;
      for (int j = 0; j < d; ++j) row[k++] = {j + 1, x[static_cast<size_t>(j)]};
      row[k++] = {d + 1, 1.0};
      row[k] = {-1, 0.0};
      rows.push_back(row);
      labels.push_back(examples[i]->label);
    }
    prob.l = static_cast<int>(examples.size());
    prob.n = d + 1;
    prob.y = labels.data();
    prob.x = rows.data();
    prob.bias = 1.0;
  }
  std::vector<feature_node> nodes;
  std::vector<feature_node*> rows;
  std::vector<double> labels;
  problem prob{};
};

model* trainLiblinear(const LinearProblem& p, const std::vector<const Example*>& examples,
                      int numClasses, double C, std::vector<int>& weightLabels,
                      std::vector<double>& weights) {
  set_print_string_function(quiet);
  std::vector<int> counts(static_cast<size_t>(numClasses), 0);
  for (const Example* e : examples) ++counts[static_cast<size_t>(e->label)];
  for (int c = 0; c < numClasses; ++c) {
    if (!counts[static_cast<size_t>(c)]) continue;
    weightLabels.push_back(c);
    weights.push_back(static_cast<double>(examples.size()) / (numClasses * counts[static_cast<size_t>(c)]));
  }
  parameter param{};
  param.solver_type = L2R_L2LOSS_SVC_DUAL;
  param.eps = 0.01;
  param.C = C;
  param.nr_weight = static_cast<int>(weightLabels.size());
  param.weight_label = weightLabels.data();
  param.weight = weights.data();
  param.p = 0.1;
  param.init_sol = nullptr;
  srand(1);  // LIBLINEAR shuffles with rand(): the same model on every run
  return train(&p.prob, &param);
}

}  // namespace

Normalization computeNormalization(const std::vector<const Example*>& examples, int d) {
  Normalization n;
  n.mu.assign(static_cast<size_t>(d), 0.0f);
  n.invStd.assign(static_cast<size_t>(d), 1.0f);
  if (examples.empty()) return n;
  for (int j = 0; j < d; ++j) {
    double sum = 0, sq = 0;
    size_t count = 0;
    for (const Example* e : examples) {
      const double v = e->features[static_cast<size_t>(j)];
      if (!std::isfinite(v)) continue;
      sum += v;
      ++count;
    }
    const double mean = count ? sum / count : 0.0;
    for (const Example* e : examples) {
      const double v = e->features[static_cast<size_t>(j)];
      if (std::isfinite(v)) sq += (v - mean) * (v - mean);
    }
    const double sd = count > 1 ? std::sqrt(sq / (count - 1)) : 0.0;
    n.mu[static_cast<size_t>(j)] = static_cast<float>(mean);
    const float inv = sd > 0 ? static_cast<float>(1.0 / sd) : 1.0f;
    n.invStd[static_cast<size_t>(j)] = std::isfinite(inv) && inv > 0 ? inv : 1.0f;
  }
  return n;
}

LinearModel trainSvm(const std::vector<const Example*>& examples, const Normalization& norm,
                     int numClasses, double C) {
  const int d = static_cast<int>(norm.mu.size());
  LinearProblem p(examples, norm);
  std::vector<int> wl;
  std::vector<double> wv;
  model* m = trainLiblinear(p, examples, numClasses, C, wl, wv);
  LinearModel out;
  out.w.assign(static_cast<size_t>(numClasses), std::vector<float>(static_cast<size_t>(d), 0.0f));
  // A class that LIBLINEAR never saw can never win.
  out.b.assign(static_cast<size_t>(numClasses), 1e30f);
  const int classes = get_nr_class(m);
  std::vector<int> labels(static_cast<size_t>(classes));
  get_labels(m, labels.data());
  for (int k = 0; k < classes; ++k) {
    const int c = labels[static_cast<size_t>(k)];
    for (int j = 0; j < d; ++j)
      out.w[static_cast<size_t>(c)][static_cast<size_t>(j)] = static_cast<float>(get_decfun_coef(m, j + 1, k));
    // LIBLINEAR adds its bias term; the system subtracts its b.
    out.b[static_cast<size_t>(c)] = static_cast<float>(-get_decfun_bias(m, k));
  }
  if (classes == 1) {  // one class only: it always wins
    const int c = labels[0];
    out.b[static_cast<size_t>(c)] = -1e30f;
  }
  free_and_destroy_model(&m);
  return out;
}

std::vector<int> liblinearPredictions(const std::vector<const Example*>& train,
                                      const std::vector<const Example*>& test,
                                      const Normalization& norm, int numClasses, double C) {
  LinearProblem p(train, norm);
  std::vector<int> wl;
  std::vector<double> wv;
  model* m = trainLiblinear(p, train, numClasses, C, wl, wv);
  LinearProblem q(test, norm);
  std::vector<int> out;
  for (feature_node* row : q.rows) out.push_back(static_cast<int>(predict(m, row)));
  free_and_destroy_model(&m);
  return out;
}

MixtureModel trainGmm(const std::vector<const Example*>& examples, const Normalization& norm,
                      int numClasses, int components, uint64_t seed) {
  const int d = static_cast<int>(norm.mu.size());
  MixtureModel out;
  out.classes.resize(static_cast<size_t>(numClasses));
  for (int c = 0; c < numClasses; ++c) {
    std::vector<std::vector<double>> rows;
    for (const Example* e : examples)
      if (e->label == c) rows.push_back(normalised(*e, norm));
    auto& comps = out.classes[static_cast<size_t>(c)];
    if (rows.empty()) {
      // No data: a single broad component far away, so the class never wins.
      comps.push_back({1.0f, std::vector<float>(static_cast<size_t>(d), 1e3f),
                       std::vector<float>(static_cast<size_t>(d), 1.0f)});
      continue;
    }
    arma::mat data(static_cast<arma::uword>(d), rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
      for (int j = 0; j < d; ++j) data(static_cast<arma::uword>(j), i) = std::isfinite(rows[i][static_cast<size_t>(j)]) ? rows[i][static_cast<size_t>(j)] : 0.0;
    const int k = std::max(1, std::min(components, static_cast<int>(rows.size()) / 2));
    arma::gmm_diag g;
    arma::arma_rng::set_seed(seed + static_cast<uint64_t>(c));
    bool ok = false;
    if (k > 1) ok = g.learn(data, static_cast<arma::uword>(k), arma::maha_dist, arma::static_spread, 10, 20, 1e-2, false);
    if (!ok) {
      // One component: the sample mean and variance.
      arma::vec mean = arma::mean(data, 1);
      arma::vec var = rows.size() > 1 ? arma::vec(arma::var(data, 0, 1)) : arma::vec(arma::ones<arma::vec>(static_cast<arma::uword>(d)));
      GaussianComponent gc{1.0f, {}, {}};
      for (int j = 0; j < d; ++j) {
        gc.mu.push_back(static_cast<float>(mean(static_cast<arma::uword>(j))));
        gc.var.push_back(static_cast<float>(std::max(1e-2, var(static_cast<arma::uword>(j)))));
      }
      comps.push_back(gc);
      continue;
    }
    for (arma::uword m = 0; m < g.n_gaus(); ++m) {
      GaussianComponent gc{static_cast<float>(g.hefts(m)), {}, {}};
      for (int j = 0; j < d; ++j) {
        gc.mu.push_back(static_cast<float>(g.means(static_cast<arma::uword>(j), m)));
        gc.var.push_back(static_cast<float>(std::max(1e-2, g.dcovs(static_cast<arma::uword>(j), m))));
      }
      comps.push_back(gc);
    }
  }
  return out;
}

std::string classifierSection(int numClasses, const Normalization& norm, const LinearModel* svm,
                              const MixtureModel* gmm, const std::string& use) {
  const int d = static_cast<int>(norm.mu.size());
  std::string s = "\n    <NumClasses Value=\"" + std::to_string(numClasses) + "\"/>\n";
  s += "    <UseClassifier Type=\"" + use + "\"/>\n";
  s += "    <Normalization>\n      <mu>" + list(norm.mu) + "</mu>\n      <invStd>" + list(norm.invStd) +
       "</invStd>\n    </Normalization>\n";
  if (svm) {
    s += "    <DiscriminantFunction>\n";
    for (int c = 0; c < numClasses; ++c)
      s += "      <Class ClassId=\"" + std::to_string(c) + "\"><b Value=\"" + number(svm->b[static_cast<size_t>(c)]) +
           "\"/><w Elements=\"" + std::to_string(d) + "\">" + list(svm->w[static_cast<size_t>(c)]) + "</w></Class>\n";
    s += "    </DiscriminantFunction>\n";
  }
  if (gmm) {
    s += "    <Gaussians>\n";
    for (int c = 0; c < numClasses; ++c) {
      s += "      <Class Id=\"" + std::to_string(c) + "\">\n";
      for (const auto& g : gmm->classes[static_cast<size_t>(c)])
        s += "        <Gaussian Weight=\"" + number(g.weight) + "\"><mu Elements=\"" + std::to_string(d) + "\">" +
             list(g.mu) + "</mu><cov>" + list(g.var) + "</cov></Gaussian>\n";
      s += "      </Class>\n";
    }
    s += "    </Gaussians>\n";
  }
  return s + "  ";
}

std::vector<int> classifyWith(const std::string& section, const std::vector<const Example*>& examples) {
  std::string doc = "<S><Classifier>" + section + "</Classifier></S>";
  std::vector<char> text(doc.begin(), doc.end());
  text.push_back('\0');
  XmlDocument xml;
  xml.parse<rapidxml::parse_no_data_nodes>(text.data());
  MClassification classification(xml.first_node());
  std::vector<int> labels;
  const float sample = 0.0f;
  for (const Example* e : examples) {
    MEvent event(1, 1, 0, &sample);
    float* f = new float[e->features.size() + 1];
    std::copy(e->features.begin(), e->features.end(), f);
    event.setFeatures(f);
    classification.processEvent(&event);
    labels.push_back(event.getLabel());
  }
  return labels;
}

std::string sourceFamily(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::vector<std::string> fields;
  for (size_t from = 0;;) {
    const size_t at = name.find("__", from);
    fields.push_back(name.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) break;
    from = at + 2;
  }
  if (fields.size() < 4) return name;
  return fields[1] + "__" + fields[2];
}

std::vector<int> familyFolds(const std::vector<std::string>& families, const std::vector<int>& labels, int folds) {
  const int classes = labels.empty() ? 0 : *std::max_element(labels.begin(), labels.end()) + 1;
  // Recordings per class of every family, families in order of first appearance.
  std::vector<std::string> names;
  std::vector<std::vector<int>> counts;
  std::vector<int> familyOf(labels.size());
  for (size_t r = 0; r < labels.size(); ++r) {
    const auto it = std::find(names.begin(), names.end(), families[r]);
    const size_t f = static_cast<size_t>(it - names.begin());
    if (it == names.end()) {
      names.push_back(families[r]);
      counts.emplace_back(static_cast<size_t>(classes), 0);
    }
    ++counts[f][static_cast<size_t>(labels[r])];
    familyOf[r] = static_cast<int>(f);
  }
  std::vector<double> total(static_cast<size_t>(classes), 0.0);
  for (const auto& c : counts)
    for (int k = 0; k < classes; ++k) total[static_cast<size_t>(k)] += c[static_cast<size_t>(k)];
  // Largest families first (weighted by how rare their classes are), each to
  // the fold where it adds least to the largest share of any of its classes.
  std::vector<double> weight(names.size(), 0.0);
  for (size_t f = 0; f < names.size(); ++f)
    for (int k = 0; k < classes; ++k) weight[f] += counts[f][static_cast<size_t>(k)] / total[static_cast<size_t>(k)];
  std::vector<size_t> order(names.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return weight[a] != weight[b] ? weight[a] > weight[b] : names[a] < names[b];
  });
  std::vector<std::vector<double>> share(static_cast<size_t>(folds), std::vector<double>(static_cast<size_t>(classes), 0.0));
  std::vector<int> foldOfFamily(names.size(), 0);
  for (size_t f : order) {
    int best = 0;
    double bestCost = 0;
    for (int g = 0; g < folds; ++g) {
      double cost = 0, size = 0;
      for (int k = 0; k < classes; ++k) {
        const size_t kk = static_cast<size_t>(k);
        if (!counts[f][kk]) continue;
        cost = std::max(cost, share[static_cast<size_t>(g)][kk] + counts[f][kk] / total[kk]);
      }
      for (int k = 0; k < classes; ++k) size += share[static_cast<size_t>(g)][static_cast<size_t>(k)];
      cost += 1e-6 * size;  // ties: the emptier fold
      if (g == 0 || cost < bestCost) {
        best = g;
        bestCost = cost;
      }
    }
    foldOfFamily[f] = best;
    for (int k = 0; k < classes; ++k)
      share[static_cast<size_t>(best)][static_cast<size_t>(k)] += counts[f][static_cast<size_t>(k)] / total[static_cast<size_t>(k)];
  }
  std::vector<int> fold(labels.size());
  for (size_t r = 0; r < labels.size(); ++r) fold[r] = foldOfFamily[static_cast<size_t>(familyOf[r])];
  return fold;
}

double Evaluation::accuracy() const {
  long right = 0, all = 0;
  for (size_t t = 0; t < confusion.size(); ++t)
    for (size_t p = 0; p < confusion[t].size(); ++p) {
      all += confusion[t][p];
      if (t == p) right += confusion[t][p];
    }
  return all ? static_cast<double>(right) / all : 0.0;
}

double Evaluation::balancedAccuracy() const {
  const auto r = recall();
  double sum = 0;
  int present = 0;
  for (size_t c = 0; c < confusion.size(); ++c)
    if (std::accumulate(confusion[c].begin(), confusion[c].end(), 0L) > 0) {
      sum += r[c];
      ++present;
    }
  return present ? sum / present : 0.0;
}

std::vector<double> Evaluation::precision() const {
  std::vector<double> out;
  for (size_t c = 0; c < confusion.size(); ++c) {
    long predicted = 0;
    for (size_t t = 0; t < confusion.size(); ++t) predicted += confusion[t][c];
    out.push_back(predicted ? static_cast<double>(confusion[c][c]) / predicted : 0.0);
  }
  return out;
}

std::vector<double> Evaluation::recall() const {
  std::vector<double> out;
  for (size_t c = 0; c < confusion.size(); ++c) {
    const long actual = std::accumulate(confusion[c].begin(), confusion[c].end(), 0L);
    out.push_back(actual ? static_cast<double>(confusion[c][c]) / actual : 0.0);
  }
  return out;
}

std::vector<double> Evaluation::f1() const {
  const auto p = precision(), r = recall();
  std::vector<double> out;
  for (size_t c = 0; c < p.size(); ++c) out.push_back(p[c] + r[c] > 0 ? 2 * p[c] * r[c] / (p[c] + r[c]) : 0.0);
  return out;
}

Evaluation evaluate(const std::vector<int>& truth, const std::vector<int>& predicted, int numClasses) {
  Evaluation e;
  e.confusion.assign(static_cast<size_t>(numClasses), std::vector<int>(static_cast<size_t>(numClasses), 0));
  for (size_t i = 0; i < truth.size(); ++i)
    if (predicted[i] >= 0 && predicted[i] < numClasses) ++e.confusion[static_cast<size_t>(truth[i])][static_cast<size_t>(predicted[i])];
  return e;
}

struct ExampleExtractor::Impl {
  MOfflineDriver driver;
  Impl(XmlNode* userRoot, XmlNode* systemRoot) : driver(userRoot, systemRoot, MOfflineDriver::Stage::Features) {}
};

ExampleExtractor::ExampleExtractor(XmlNode* user, XmlNode* system)
    : impl(new Impl(user, system)) {
  fs = cfg::getIntAtLeast(system, "AudioCapturing", "Fs", 1);
  nBlock = cfg::getIntAtLeast(system, "AudioCapturing", "NBlock", 1);
  nEvent = cfg::getIntAtLeast(system, "Event", "NEvent", 1);
  timeInit = cfg::getReal(user, "Segmentation", "TimeInit");
}

ExampleExtractor::~ExampleExtractor() { delete impl; }

int ExampleExtractor::dimension() const { return impl->driver.featureLength(); }

std::vector<std::vector<float>> ExampleExtractor::extract(const std::vector<float>& samples, bool wholeFile,
                                                          const Background* background) {
  // A quiet room around the recording: a faint, fixed noise floor, plus the
  // background noise of an augmented copy over the whole signal.
  const size_t lead = static_cast<size_t>((timeInit + 0.3) * fs);
  const size_t tail = static_cast<size_t>(nEvent + 2) * nBlock;
  std::vector<float> x(lead + samples.size() + tail);
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> u(-1e-4f, 1e-4f);
  for (float& v : x) v = u(rng);
  if (background && background->rms > 0) {
    const std::vector<float> noise = backgroundNoise(*background, x.size(), fs);
    for (size_t i = 0; i < x.size(); ++i) x[i] += noise[i];
  }
  for (size_t i = 0; i < samples.size(); ++i) x[lead + i] = std::max(-1.0f, std::min(1.0f, x[lead + i] + samples[i]));

  MOfflineDriver& driver = impl->driver;
  MFeatureExtractor& features = driver.features();
  std::vector<std::vector<float>> out;
  auto keep = [&](const MEvent& e) {
    const float* f = e.getFeatures();
    out.emplace_back(f, f + features.getFeatureVectorLength());
  };
  driver.restart();
  std::vector<ClassifiedEvent> events;
  driver.feedSamples(x.data(), x.size(), events);
  for (const ClassifiedEvent& ce : events) keep(*ce.event);
  if (out.empty() && wholeFile && !samples.empty()) {
    size_t loudest = 0;
    double best = -1;
    for (size_t b = 0; b * nBlock < samples.size(); ++b) {
      double p = 0;
      for (size_t i = b * nBlock; i < std::min(samples.size(), (b + 1) * nBlock); ++i) p += double(samples[i]) * samples[i];
      if (p > best) {
        best = p;
        loudest = b;
      }
    }
    std::vector<float> ev(static_cast<size_t>(nEvent) * nBlock, 0.0f);
    for (size_t i = 0; i < ev.size(); ++i) ev[i] = x[lead + loudest * nBlock + i];
    MEvent e(nEvent, nBlock, 0, ev.data());
    features.processEvent(&e);
    keep(e);
  }
  return out;
}

std::vector<float> backgroundNoise(const Background& b, size_t count, int fs) {
  std::mt19937_64 rng(b.seed);
  std::normal_distribution<double> white(0.0, 1.0);
  std::vector<double> y(count);
  // Pink: Paul Kellett's economy filter; brown: a leaky integrator whose
  // leak sets a high-pass near 20 Hz.
  double p0 = 0, p1 = 0, p2 = 0, brown = 0;
  const double leak = 1.0 - 2 * 3.141592653589793 * 20.0 / fs;
  for (size_t i = 0; i < count; ++i) {
    const double w = white(rng);
    switch (b.kind) {
      case Background::White: y[i] = w; break;
      case Background::Pink:
        p0 = 0.99765 * p0 + w * 0.0990460;
        p1 = 0.96300 * p1 + w * 0.2965164;
        p2 = 0.57000 * p2 + w * 1.0526913;
        y[i] = p0 + p1 + p2 + w * 0.1848;
        break;
      case Background::Brown:
        brown = leak * brown + w;
        y[i] = brown;
        break;
    }
  }
  double sq = 0;
  for (double v : y) sq += v * v;
  const double scale = count && sq > 0 ? b.rms / std::sqrt(sq / count) : 0.0;
  std::vector<float> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(y[i] * scale);
  return out;
}

Augmented augment(const std::vector<float>& samples, int k, int nBlock, uint64_t seed) {
  std::mt19937_64 rng(seed * 7919 + static_cast<uint64_t>(k));
  std::uniform_real_distribution<double> peakDb(-36.0, -6.0), snrDb(0.0, 40.0);
  double peak = 0, sq = 0;
  for (float v : samples) {
    peak = std::max(peak, static_cast<double>(std::fabs(v)));
    sq += static_cast<double>(v) * v;
  }
  const double gain = peak > 0 ? std::pow(10.0, peakDb(rng) / 20.0) / peak : 1.0;
  const double rms = samples.empty() ? 0.0 : gain * std::sqrt(sq / samples.size());
  const double noiseRms = rms * std::pow(10.0, -snrDb(rng) / 20.0);
  std::uniform_int_distribution<int> shiftDist(0, std::max(0, nBlock - 1));
  const int shift = shiftDist(rng);
  static const Background::Kind kinds[] = {Background::White, Background::Pink, Background::Brown};
  Augmented out{std::vector<float>(samples.size() + static_cast<size_t>(shift), 0.0f),
                {kinds[k % 3], noiseRms, rng()}};
  for (size_t i = 0; i < samples.size(); ++i)
    out.samples[i + static_cast<size_t>(shift)] = static_cast<float>(samples[i] * gain);
  return out;
}

}  // namespace classification
