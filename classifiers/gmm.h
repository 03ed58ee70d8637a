#pragma once

#include "classifiers/classificator.h"

namespace classification {

// A diagonal Gaussian mixture per class; the class score is the weighted sum
// of the component log-densities.
class MGMM : public MClassificator {
 public:
  MGMM() = default;
  explicit MGMM(XmlNode* root) { init(root); }
  void init(XmlNode* root) override;
  void classify(MEvent* event) override;
  void reset() override {}

 private:
  std::vector<std::vector<std::vector<float>>> componentMu;
  std::vector<std::vector<std::vector<float>>> componentCov;
  std::vector<std::vector<float>> componentWeight;
};

}  // namespace classification
