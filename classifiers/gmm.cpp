#include "classifiers/gmm.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace classification {

void MGMM::init(XmlNode* root) {
  XmlNode* classifier = cfg::element(root, "Classifier");
  XmlNode* gaussians = cfg::element(classifier, "Gaussians");
  XmlNode* first = gaussians->first_node();
  if (!first) cfg::fail(gaussians, "holds no class element");
  dimensionNode = cfg::element(cfg::element(first, "Gaussian"), "mu");
  const long d = cfg::integer(dimensionNode, "Elements");
  if (d < 0 || d > 10000000) cfg::fail(dimensionNode, "\"Elements\" must be between 0 and 10000000");
  numFeatures = static_cast<int>(d);
  readNumClasses(classifier);

  componentMu.clear();
  componentCov.clear();
  componentWeight.clear();
  for (XmlNode* cls = gaussians->first_node(); cls; cls = cls->next_sibling()) {
    const bool scored = static_cast<int>(componentWeight.size()) < numClasses;
    std::vector<std::vector<float>> means, variances;
    std::vector<float> weights;
    for (XmlNode* comp = cls->first_node(); comp; comp = comp->next_sibling()) {
      weights.push_back(static_cast<float>(cfg::real(comp, "Weight")));
      XmlNode* muNode = cfg::element(comp, "mu");
      XmlNode* covNode = cfg::element(comp, "cov");
      means.push_back(getArrayF(cfg::text(muNode)));
      variances.push_back(getArrayF(cfg::text(covNode)));
      if (!scored) continue;  // read, never scored
      for (auto [node, list] : {std::pair{muNode, &means.back()}, std::pair{covNode, &variances.back()}})
        if (static_cast<long>(list->size()) < numFeatures)
          cfg::fail(node, "holds " + std::to_string(list->size()) + " values, fewer than \"Elements\" (" +
                              std::to_string(numFeatures) + ")");
      for (int j = 0; j < numFeatures; ++j)
        if (!(variances.back()[j] > 0.0f) || !std::isfinite(variances.back()[j]))
          cfg::fail(covNode, "variance " + std::to_string(j + 1) + " is not a positive number");
    }
    componentMu.push_back(std::move(means));
    componentCov.push_back(std::move(variances));
    componentWeight.push_back(std::move(weights));
  }
  if (static_cast<int>(componentWeight.size()) < numClasses)
    cfg::fail(gaussians, "holds " + std::to_string(componentWeight.size()) +
                             " class elements, fewer than NumClasses (" + std::to_string(numClasses) + ")");
  readNormalization(classifier);
  initialized = true;
}

void MGMM::classify(MEvent* event) {
  float* df = new float[static_cast<size_t>(numClasses)];
  for (int c = 0; c < numClasses; ++c) df[c] = 0.0f;
  std::unique_ptr<float[]> x(new float[static_cast<size_t>(numFeatures)]);
  normalize(event->getFeatures(), x.get());
  const double log2Pi = std::log(6.283185307179586);
  for (int c = 0; c < numClasses; ++c) {
    const auto& weights = componentWeight[c];
    for (size_t k = 0; k < weights.size(); ++k) {
      const float* m = componentMu[c][k].data();
      const float* v = componentCov[c][k].data();
      double s = 0.0, logDet = 0.0;
      for (int j = 0; j < numFeatures; ++j) {
        const double diff = x[j] - m[j];
        const double var = v[j];
        // ln of the product of variances as a sum of logs: the product
        // itself under- or overflows for realistic dimensions.
        logDet += std::log(var);
        s += diff * diff / var;
      }
      const double L = 0.5 * logDet + numFeatures * 0.5 * log2Pi;
      const double t = (-0.5 * s - L) * static_cast<double>(weights[k]);
      df[c] += static_cast<float>(t);
    }
  }
  event->setDFVal(df);
  const int label = labelOf(df, numClasses);
  event->setLabel(label);
  writeDiagnostics(df, label, false);
}

}  // namespace classification
