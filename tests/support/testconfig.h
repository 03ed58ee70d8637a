// Configuration documents for tests: the shipped defaults with chosen keys
// replaced, written into a private temporary directory.
#pragma once

#include "app/config.h"
#include "tests/support/files.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace sctest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name, const std::string& content) const;
  // A "ClassificationSystem.xml" naming the two documents.
  void index(const std::string& user, const std::string& system) const;
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Key overrides: "Section/Key" -> value of the attribute "Value". A key that
// is not in the defaults is added to its section.
using Overrides = std::map<std::string, std::string>;

std::string userDocument(const Overrides& overrides = {});
// model: the text of the "Classifier" section (without the element itself);
// empty keeps an untrained four-class SVM of dimension 0.
std::string systemDocument(const Overrides& overrides = {}, const std::string& features = "",
                           const std::string& classifier = "");

// A complete directory with ClassificationSystem.xml and both documents.
class TestConfig {
 public:
  TestConfig(const Overrides& overrides = {}, const std::string& features = "",
             const std::string& classifier = "");
  classification::XmlNode* user() const { return set_->userRoot(); }
  classification::XmlNode* system() const { return set_->systemRoot(); }
  std::string dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::unique_ptr<classification::ConfigSet> set_;
};

}  // namespace sctest
