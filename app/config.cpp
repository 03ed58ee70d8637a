#include "app/config.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>

namespace classification {

std::vector<char> loadXML(const std::string& path, std::vector<std::size_t>* lineStarts,
                          bool* opened) {
  std::vector<char> text;
  if (lineStarts) lineStarts->clear();
  std::ifstream in(path);
  if (opened) *opened = static_cast<bool>(in);
  if (in) {
    std::string line;
    while (std::getline(in, line)) {
      if (lineStarts) lineStarts->push_back(text.size());
      text.insert(text.end(), line.begin(), line.end());
    }
  }
  text.push_back('\0');
  return text;
}

namespace {

// Walks the space-separated tokens of a number list; convert turns one
// zero-terminated token into a value.
template <typename T, typename Convert>
std::vector<T> parseList(const char* text, Convert convert) {
  std::vector<T> out;
  if (!text) return out;
  const std::string s(text);
  std::size_t start = s.find_first_not_of(' ');
  std::size_t end = (start == std::string::npos) ? std::string::npos : s.find(' ', start);
  while (start != std::string::npos || end != std::string::npos) {
    const std::string token =
        s.substr(start, end == std::string::npos ? std::string::npos : end - start);
    out.push_back(convert(token.c_str()));
    if (end == std::string::npos) break;
    start = s.find_first_not_of(' ', end);
    if (start == std::string::npos) break;
    end = s.find(' ', start);
  }
  return out;
}

}  // namespace

std::vector<float> getArrayF(const char* text) {
  return parseList<float>(text, [](const char* t) {
    return static_cast<float>(std::strtod(t, nullptr));
  });
}

std::vector<int> getArrayI(const char* text) {
  return parseList<int>(text, [](const char* t) {
    return static_cast<int>(std::strtol(t, nullptr, 10));
  });
}

ConfigError::ConfigError(std::string document, std::string element, std::string problem)
    : std::runtime_error(document + ": " + (element.empty() ? "" : element + ": ") + problem),
      document_(std::move(document)),
      element_(std::move(element)),
      problem_(std::move(problem)) {}

namespace {

// Which file each parsed document came from, so that a lookup that fails deep
// inside a component can still name the file.
std::mutex registryMutex;
std::map<const XmlDocument*, std::string>& registry() {
  static std::map<const XmlDocument*, std::string> map;
  return map;
}

}  // namespace

ConfigDocument::ConfigDocument(std::string path) : path_(std::move(path)) {
  bool opened = false;
  text_ = loadXML(path_, &lineStarts_, &opened);
  if (!opened) throw ConfigError(path_, "", "cannot open file: " + std::string(std::strerror(errno)));
  try {
    doc_.parse<rapidxml::parse_no_data_nodes | rapidxml::parse_validate_closing_tags>(text_.data());
  } catch (const rapidxml::parse_error& e) {
    // Map the error position back to the file's own lines and columns.
    const std::size_t offset = static_cast<std::size_t>(e.where<char>() - text_.data());
    auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
    std::size_t line = 1, column = offset + 1;
    if (it != lineStarts_.begin()) {
      --it;
      line = static_cast<std::size_t>(it - lineStarts_.begin()) + 1;
      column = offset - *it + 1;
    }
    throw ConfigError(path_, "",
                      "malformed XML at line " + std::to_string(line) + ", column " +
                          std::to_string(column) + ": " + e.what());
  }
  root_ = doc_.first_node();
  if (!root_) throw ConfigError(path_, "", "no root element");
  std::lock_guard<std::mutex> lock(registryMutex);
  registry()[&doc_] = path_;
}

ConfigDocument::~ConfigDocument() {
  std::lock_guard<std::mutex> lock(registryMutex);
  registry().erase(&doc_);
}

namespace {

std::string joinPath(const std::string& dir, const std::string& path) {
  if (dir.empty() || dir == "." || path.empty() || path[0] == '/') return path;
  return dir.back() == '/' ? dir + path : dir + "/" + path;
}

}  // namespace

ConfigSet::ConfigSet(const std::string& dir) {
  top_ = std::make_unique<ConfigDocument>(joinPath(dir, "ClassificationSystem.xml"));
  XmlNode* system = top_->root();
  if (std::strcmp(system->name(), "ClassificationSystem") != 0)
    throw ConfigError(top_->path(), system->name(), "root element must be \"ClassificationSystem\"");
  XmlNode* userPath = cfg::element(system, "UserEditableParameters");
  XmlNode* systemPath = userPath->next_sibling();
  if (!systemPath)
    cfg::failChild(system, "UserEditableParameters",
                   "must be followed by the element naming the system parameter document");
  user_ = std::make_unique<ConfigDocument>(joinPath(dir, cfg::text(userPath)));
  system_ = std::make_unique<ConfigDocument>(joinPath(dir, cfg::text(systemPath)));
}

std::string userConfigDir() {
#ifdef _WIN32
  return "";
#else
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/soundclassifier";
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) + "/.config/soundclassifier" : "";
#endif
}

std::string installedConfigDir() {
#ifdef SC_DATADIR
  return SC_DATADIR;
#else
  return "";
#endif
}

std::string defaultConfigDir() {
  auto holds = [](const std::string& dir) {
    if (dir.empty()) return false;
    std::ifstream f(dir + "/ClassificationSystem.xml");
    return static_cast<bool>(f);
  };
  if (holds(".")) return ".";
  if (holds(userConfigDir())) return userConfigDir();
  if (holds(installedConfigDir())) return installedConfigDir();
  return ".";
}

namespace cfg {

std::string documentOf(const XmlNode* node) {
  if (!node) return "<unknown document>";
  const XmlDocument* doc = node->document();
  std::lock_guard<std::mutex> lock(registryMutex);
  auto it = registry().find(doc);
  return it == registry().end() ? "<unknown document>" : it->second;
}

std::string pathOf(const XmlNode* node) {
  std::vector<std::string> names;
  // Stop below the root element: sections are named from the root down.
  for (const XmlNode* n = node; n && n->parent() && n->parent()->type() == rapidxml::node_element;
       n = n->parent())
    names.emplace_back(n->name(), n->name_size());
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += *it;
  }
  return path;
}

void fail(const XmlNode* node, const std::string& problem) {
  throw ConfigError(documentOf(node), pathOf(node), problem);
}

void failChild(const XmlNode* node, const char* child, const std::string& problem) {
  std::string path = pathOf(node);
  if (!path.empty()) path += '/';
  path += child;
  throw ConfigError(documentOf(node), path, problem);
}

XmlNode* findElement(XmlNode* parent, const char* name) {
  return parent ? parent->first_node(name) : nullptr;
}

XmlNode* element(XmlNode* parent, const char* name) {
  XmlNode* n = findElement(parent, name);
  if (!n) failChild(parent, name, "missing element");
  return n;
}

const char* attribute(const XmlNode* node, const char* name) {
  const rapidxml::xml_attribute<char>* a = node->first_attribute(name);
  if (!a) fail(node, std::string("missing attribute \"") + name + "\"");
  return a->value();
}

const char* text(const XmlNode* node) { return node->value(); }

long integer(const XmlNode* node, const char* attr) {
  return std::strtol(attribute(node, attr), nullptr, 10);
}

double real(const XmlNode* node, const char* attr) {
  return std::strtod(attribute(node, attr), nullptr);
}

int getInt(XmlNode* root, const char* section, const char* key) {
  return static_cast<int>(integer(element(element(root, section), key)));
}

double getReal(XmlNode* root, const char* section, const char* key) {
  return real(element(element(root, section), key));
}

int getIntAtLeast(XmlNode* root, const char* section, const char* key, long minimum) {
  XmlNode* n = element(element(root, section), key);
  const long v = integer(n);
  if (v < minimum)
    fail(n, "value " + std::to_string(v) + " must be at least " + std::to_string(minimum));
  if (v > 0x7fffffffL) fail(n, "value " + std::to_string(v) + " is too large");
  return static_cast<int>(v);
}

double getRealAbove(XmlNode* root, const char* section, const char* key, double minimum) {
  XmlNode* n = element(element(root, section), key);
  const double v = real(n);
  if (!(v > minimum) || !std::isfinite(v))
    fail(n, "value " + std::string(attribute(n)) + " must be a finite number above " +
                std::to_string(minimum));
  return v;
}

}  // namespace cfg
}  // namespace classification

#include <iostream>

namespace classification {
int runReportingConfigErrors(const char* program, const std::function<int()>& body) {
  try {
    return body();
  } catch (const ConfigError& e) {
    std::cerr << program << ": configuration error: " << e.what() << std::endl;
    return kConfigErrorExit;
  }
}
}  // namespace classification
