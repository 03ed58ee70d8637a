#pragma once

#include "classifiers/classificator.h"

namespace classification {

// One linear discriminant per class: df[c] = w[c] . x - b[c].
class MLinSVM : public MLinClassificator {
 public:
  MLinSVM() = default;
  explicit MLinSVM(XmlNode* root) { init(root); }
  void init(XmlNode* root) override;
  void classify(MEvent* event) override;
  void reset() override {}
  const std::vector<std::vector<float>>& getWeights() const { return w; }
  const std::vector<float>& getBias() const { return b; }
};

}  // namespace classification
