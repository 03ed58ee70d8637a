// Writes a parsed element back as XML text (elements, attributes and element
// text; what the configuration documents use).
#pragma once

#include "app/config.h"

#include <string>

namespace classification {

std::string xmlEscape(const std::string& s);
std::string printElement(const XmlNode* node, int indent);

}  // namespace classification
