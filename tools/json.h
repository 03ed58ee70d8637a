// Small helpers for the tools' JSON lines.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace classification {

// Enough digits to round-trip a float; non-finite values as NaN, Infinity,
// -Infinity.
inline std::string jsonNumber(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

inline std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

template <typename T>
std::string jsonArray(const T* values, int n) {
  std::string out = "[";
  for (int i = 0; i < n; ++i) {
    if (i) out += ",";
    out += jsonNumber(values[i]);
  }
  return out + "]";
}

}  // namespace classification
