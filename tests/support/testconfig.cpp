#include "tests/support/testconfig.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace sctest {

TempDir::TempDir() {
  // Unique per process and call without POSIX calls, so this builds for Windows too.
  static const unsigned long long run = std::random_device{}();
  static int counter = 0;
  path_ = std::filesystem::temp_directory_path() /
          ("sctest_" + std::to_string(run) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name, const std::string& content) const {
  std::ofstream(path_ / name, std::ios::binary) << content;
  return (path_ / name).string();
}

void TempDir::index(const std::string& user, const std::string& system) const {
  file("ClassificationSystem.xml", "<ClassificationSystem><UserEditableParameters>" + user +
                                       "</UserEditableParameters><SystemParameters>" + system +
                                       "</SystemParameters></ClassificationSystem>");
}

namespace {

std::string apply(std::string doc, const Overrides& overrides) {
  for (const auto& [key, value] : overrides) {
    const auto slash = key.find('/');
    const std::string section = key.substr(0, slash), name = key.substr(slash + 1);
    const size_t sec = doc.find("<" + section + ">");
    if (sec == std::string::npos) continue;  // the key lives in the other document
    const std::string open = "<" + name + " Value=\"";
    const size_t found = doc.find(open, sec);
    if (found == std::string::npos) {  // an optional key: add it
      doc.insert(sec + section.size() + 2, open + value + "\"/>");
      continue;
    }
    const size_t at = found + open.size();
    doc.replace(at, doc.find('"', at) - at, value);
  }
  return doc;
}

}  // namespace

std::string userDocument(const Overrides& overrides) {
  const std::string doc = R"(<UserParameters>
  <Segmentation>
    <FacAmplStartPointEvent Value="0.1"/>
    <FacMinEvent Value="0.5"/>
    <FacPeakConsecutiveEvents Value="0.5"/>
    <UpdateThresh Value="0"/>
    <AdaptionTime Value="2"/>
    <TimeInit Value="1"/>
    <FacVar Value="3"/>
    <FacVarHysterese Value="2"/>
    <Alpha Value="0.5"/>
    <q Value="3"/>
    <MaxThresholdEnergy Value="1e30"/>
  </Segmentation>
  <GraphicalUserInterface>
    <DispInterval Value="5"/>
    <M Value="1"/>
    <Audio Name="Audio"><Color Value="#000080"/></Audio>
    <Events Number="4">
      <E Name="clap" ClassId="0"><Color Value="red"/></E>
      <E Name="knock" ClassId="1"><Color Value="green"/></E>
      <E Name="cough" ClassId="2"><Color Value="blue"/></E>
      <E Name="other" ClassId="3"><Color Value="#808080"/></E>
    </Events>
  </GraphicalUserInterface>
</UserParameters>
)";
  return apply(doc, overrides);
}

std::string systemDocument(const Overrides& overrides, const std::string& features,
                           const std::string& classifier) {
  // Valid for the default 4-sample blocks at 100 Hz (the mel bank is not).
  const std::string defaultFeatures = R"(<UseFeatures><F Name="MCentroid"/><F Name="MSPS"/></UseFeatures>
    <MSTFT><NFFT Value="4"/><Overlap Value="1"/></MSTFT>
    <MFCC><NumLog Value="0"/><Indices Elements="2" Value="1 2"/></MFCC>
    <MCentroid><Mean Value="1"/><Var Value="1"/><Poly Value="1"/></MCentroid>
    <MFlux><Mean Value="1"/><Var Value="1"/><Poly Value="1"/></MFlux>
    <MSR><Mean Value="1"/><Var Value="1"/><Poly Value="1"/></MSR>)";
  const std::string defaultClassifier = R"(<NumClasses Value="4"/><UseClassifier Type="MLinSVM"/>
    <Normalization><mu></mu><invStd></invStd></Normalization>
    <DiscriminantFunction>
      <C ClassId="0"><b Value="0"/><w Elements="0"></w></C>
      <C ClassId="1"><b Value="0"/><w Elements="0"></w></C>
      <C ClassId="2"><b Value="0"/><w Elements="0"></w></C>
      <C ClassId="3"><b Value="0"/><w Elements="0"></w></C>
    </DiscriminantFunction>)";
  const std::string doc = "<SystemParameters>\n"
                          "  <AudioCapturing><NBlock Value=\"4\"/><Fs Value=\"100\"/></AudioCapturing>\n"
                          "  <Event><NEvent Value=\"10\"/></Event>\n"
                          "  <FeatureExtractor>" +
                          (features.empty() ? defaultFeatures : features) +
                          "</FeatureExtractor>\n  <Classifier>" +
                          (classifier.empty() ? defaultClassifier : classifier) +
                          "</Classifier>\n</SystemParameters>\n";
  return apply(doc, overrides);
}

TestConfig::TestConfig(const Overrides& overrides, const std::string& features,
                       const std::string& classifier) {
  dir_.index("user.xml", "system.xml");
  dir_.file("user.xml", userDocument(overrides));
  dir_.file("system.xml", systemDocument(overrides, features, classifier));
  set_ = std::make_unique<classification::ConfigSet>(dir_.path());
}

}  // namespace sctest
