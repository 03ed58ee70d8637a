// Classifiers: a registry keyed by class name, the active one chosen by
// "UseClassifier"/"Type". Every classifier z-scores the first d entries of
// the feature vector, computes one value per class and takes the largest
// (strictly greater wins, ties and NaN go to the lower index).
#pragma once

#include "app/config.h"
#include "segmentation/event.h"

#include <map>
#include <string>
#include <vector>

namespace classification {

class MClassificator {
 public:
  MClassificator() = default;
  virtual ~MClassificator() = default;
  MClassificator(const MClassificator&) = delete;
  MClassificator& operator=(const MClassificator&) = delete;

  // Reads the model below the system root; throws ConfigError for a model
  // that cannot be used.
  virtual void init(XmlNode* root) = 0;
  virtual void classify(MEvent* event) = 0;
  virtual void reset() = 0;

  bool isInitialized() const { return initialized; }
  int getNumFeatures() const { return numFeatures; }
  int getNumClasses() const { return numClasses; }
  // The element whose "Elements" gave d (for messages about d).
  XmlNode* getDimensionNode() const { return dimensionNode; }

 protected:
  // x[j] = (f[j] - mu[j]) x invStd[j], single precision.
  void normalize(const float* features, float* x) const;
  // Index of the largest value by the label rule.
  static int labelOf(const float* df, int n);
  void readNormalization(XmlNode* classifier);
  void readNumClasses(XmlNode* classifier);
  // The diagnostic lines of the Windows program (compile-time switch).
  void writeDiagnostics(const float* df, int label, bool withValues) const;

  int numFeatures = 0;
  int numClasses = 0;
  bool initialized = false;
  std::vector<float> mu;
  std::vector<float> invStd;
  XmlNode* dimensionNode = nullptr;
};

class MLinClassificator : public MClassificator {
 public:
  ~MLinClassificator() override = default;

 protected:
  std::vector<std::vector<float>> w;
  std::vector<float> b;
};

class MClassification {
 public:
  MClassification() = default;
  explicit MClassification(XmlNode* root);
  ~MClassification();
  MClassification(const MClassification&) = delete;
  MClassification& operator=(const MClassification&) = delete;

  void init(XmlNode* root);
  void createClassificatorMap();
  void initClassificator(const std::string& name);
  void processEvent(MEvent* event);
  void reset();

  MClassificator* getActive() const { return activeClassificator; }
  MClassificator* get(const std::string& name) const;
  const std::string& getActiveName() const { return activeName; }

 private:
  bool initialized = false;
  std::map<std::string, MClassificator*> classificatorMap;
  MClassificator* activeClassificator = nullptr;
  MEvent* currentEvent = nullptr;
  XmlNode* configNode = nullptr;
  std::string activeName;
};

}  // namespace classification
