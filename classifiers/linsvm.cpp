#include "classifiers/linsvm.h"

#include <cstdlib>
#include <memory>

namespace classification {

void MLinSVM::init(XmlNode* root) {
  XmlNode* classifier = cfg::element(root, "Classifier");
  XmlNode* functions = cfg::element(classifier, "DiscriminantFunction");
  XmlNode* first = functions->first_node();
  if (!first) cfg::fail(functions, "holds no class element");
  dimensionNode = cfg::element(first, "w");
  const long d = cfg::integer(dimensionNode, "Elements");
  if (d < 0 || d > 10000000) cfg::fail(dimensionNode, "\"Elements\" must be between 0 and 10000000");
  numFeatures = static_cast<int>(d);
  readNumClasses(classifier);
  b.assign(static_cast<size_t>(numClasses), 0.0f);
  w.assign(static_cast<size_t>(numClasses), std::vector<float>(1, 0.0f));
  std::vector<XmlNode*> setBy(static_cast<size_t>(numClasses), nullptr);
  for (XmlNode* cls = functions->first_node(); cls; cls = cls->next_sibling()) {
    const long c = cfg::integer(cls, "ClassId");
    if (c < 0 || c >= numClasses)
      cfg::fail(cls, "\"ClassId\" " + std::to_string(c) + " outside 0 ... " +
                         std::to_string(numClasses - 1));
    b[c] = static_cast<float>(cfg::real(cfg::element(cls, "b")));
    w[c] = getArrayF(cfg::text(cfg::element(cls, "w")));
    setBy[c] = cls;  // a later element with the same ClassId replaces an earlier one
  }
  for (int c = 0; c < numClasses; ++c) {
    if (!setBy[c]) cfg::fail(functions, "no class element sets ClassId " + std::to_string(c));
    if (static_cast<long>(w[c].size()) < numFeatures)
      cfg::fail(cfg::element(setBy[c], "w"),
                "holds " + std::to_string(w[c].size()) + " weights, fewer than \"Elements\" (" +
                    std::to_string(numFeatures) + ")");
  }
  readNormalization(classifier);
  initialized = true;
}

void MLinSVM::classify(MEvent* event) {
  float* df = new float[static_cast<size_t>(numClasses)];
  std::unique_ptr<float[]> x(new float[static_cast<size_t>(numFeatures)]);
  normalize(event->getFeatures(), x.get());
  for (int c = 0; c < numClasses; ++c) {
    float sum = -b[c];
    const float* wc = w[c].data();
    for (int j = 0; j < numFeatures; ++j) sum += x[j] * wc[j];
    df[c] = sum;
  }
  event->setDFVal(df);
  const int label = labelOf(df, numClasses);
  event->setLabel(label);
  writeDiagnostics(df, label, true);
}

}  // namespace classification
