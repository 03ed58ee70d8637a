#include "tools/xml_writer.h"

namespace classification {

std::string xmlEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string printElement(const XmlNode* node, int indent) {
  const std::string pad(static_cast<size_t>(indent), ' ');
  std::string out = pad + "<" + std::string(node->name(), node->name_size());
  for (auto* a = node->first_attribute(); a; a = a->next_attribute())
    out += " " + std::string(a->name(), a->name_size()) + "=\"" +
           xmlEscape(std::string(a->value(), a->value_size())) + "\"";
  const XmlNode* child = node->first_node();
  if (!child && node->value_size() == 0) return out + "/>\n";
  out += ">";
  if (!child) return out + xmlEscape(std::string(node->value(), node->value_size())) + "</" +
                     std::string(node->name(), node->name_size()) + ">\n";
  out += "\n";
  for (; child; child = child->next_sibling()) out += printElement(child, indent + 2);
  return out + pad + "</" + std::string(node->name(), node->name_size()) + ">\n";
}

}  // namespace classification
