// Configuration documents: loading, number lists, and the lookups every
// component uses. A missing file, element or attribute, a malformed document
// or a value outside its limits becomes a ConfigError that names the document,
// the element path and the fault; programs print it as one line and exit 2.
#pragma once

#include <rapidxml/rapidxml.hpp>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace classification {

using XmlNode = rapidxml::xml_node<char>;
using XmlDocument = rapidxml::xml_document<char>;

// Exit status of every program for a configuration error.
constexpr int kConfigErrorExit = 2;

// Reads a file line by line and joins the lines without their line breaks,
// then appends a terminating zero. A file that cannot be opened gives just the
// zero. When lineStarts is given it receives the offset in the joined text at
// which every line of the file began, so that positions can be mapped back.
std::vector<char> loadXML(const std::string& path,
                          std::vector<std::size_t>* lineStarts = nullptr,
                          bool* opened = nullptr);

// Number lists separated by one or more spaces (only the space character).
std::vector<float> getArrayF(const char* text);
std::vector<int> getArrayI(const char* text);

class ConfigError : public std::runtime_error {
 public:
  ConfigError(std::string document, std::string element, std::string problem);
  const std::string& document() const { return document_; }
  const std::string& element() const { return element_; }
  const std::string& problem() const { return problem_; }

 private:
  std::string document_;
  std::string element_;
  std::string problem_;
};

// One parsed parameter document together with the text it points into.
class ConfigDocument {
 public:
  // Loads and parses (flag parse_no_data_nodes). Throws ConfigError for a
  // file that cannot be opened, a parse error (with line and column) or a
  // document without a root element.
  explicit ConfigDocument(std::string path);
  ~ConfigDocument();
  ConfigDocument(const ConfigDocument&) = delete;
  ConfigDocument& operator=(const ConfigDocument&) = delete;

  XmlNode* root() const { return root_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<char> text_;
  std::vector<std::size_t> lineStarts_;
  XmlDocument doc_;
  XmlNode* root_ = nullptr;
};

// "ClassificationSystem.xml" and the two documents it names.
class ConfigSet {
 public:
  // dir is prepended to the top-level file name and to relative document
  // paths ("" or "." keeps the working directory as the base).
  explicit ConfigSet(const std::string& dir = "");
  XmlNode* userRoot() const { return user_->root(); }
  XmlNode* systemRoot() const { return system_->root(); }
  const ConfigDocument& user() const { return *user_; }
  const ConfigDocument& system() const { return *system_; }
  const ConfigDocument& top() const { return *top_; }

 private:
  std::unique_ptr<ConfigDocument> top_;
  std::unique_ptr<ConfigDocument> user_;
  std::unique_ptr<ConfigDocument> system_;
};

// The user's configuration folder: $XDG_CONFIG_HOME/soundclassifier, by
// default ~/.config/soundclassifier ("" where there is no home folder).
std::string userConfigDir();
// The folder holding the installed default documents ("" when not known).
std::string installedConfigDir();
// Where a tool reads its documents without --config: the working directory
// when it holds ClassificationSystem.xml, else the user's configuration
// folder when that does, else the installed defaults, else the working
// directory (whose missing file is then reported).
std::string defaultConfigDir();

namespace cfg {

// Path of the document a node belongs to ("<unknown document>" for trees that
// were not loaded through ConfigDocument).
std::string documentOf(const XmlNode* node);
// Element path below the root element, e.g. "Segmentation/FacVar".
std::string pathOf(const XmlNode* node);

[[noreturn]] void fail(const XmlNode* node, const std::string& problem);
// For a child that is absent: the path names the child below node.
[[noreturn]] void failChild(const XmlNode* node, const char* child,
                            const std::string& problem);

// First child element of that exact name, or a ConfigError.
XmlNode* element(XmlNode* parent, const char* name);
// First child element of that exact name, or null.
XmlNode* findElement(XmlNode* parent, const char* name);
// Attribute text of the first attribute of that name, or a ConfigError.
const char* attribute(const XmlNode* node, const char* name = "Value");
// Element text (empty for an element without text).
const char* text(const XmlNode* node);

// strtol base 10 / strtod of an attribute, as every component reads numbers.
long integer(const XmlNode* node, const char* attr = "Value");
double real(const XmlNode* node, const char* attr = "Value");

// Section/key lookups below a root: root/section/key[@Value].
int getInt(XmlNode* root, const char* section, const char* key);
double getReal(XmlNode* root, const char* section, const char* key);
// The same with a lower limit checked.
int getIntAtLeast(XmlNode* root, const char* section, const char* key, long minimum);
double getRealAbove(XmlNode* root, const char* section, const char* key, double minimum);

}  // namespace cfg
}  // namespace classification

#include <functional>

namespace classification {
// Runs body; a ConfigError becomes one line "program: document: element:
// problem" on standard error and the exit status 2.
int runReportingConfigErrors(const char* program, const std::function<int()>& body);
}  // namespace classification
