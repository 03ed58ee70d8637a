// A one-line progress indicator on standard error, shown only on a terminal.
#pragma once

#include <cstdio>
#include <string>
#ifdef _WIN32
#include <io.h>
#define SC_ISATTY _isatty
#else
#include <unistd.h>
#define SC_ISATTY isatty
#endif

namespace classification {

class Progress {
 public:
  Progress(std::string label, long total, bool wanted = true)
      : label_(std::move(label)), total_(total), enabled_(wanted && SC_ISATTY(2) && total > 0) {}
  ~Progress() { done(); }
  void update(long value) {
    if (!enabled_) return;
    const int percent = static_cast<int>(100.0 * value / total_);
    if (percent == last_) return;
    last_ = percent;
    std::fprintf(stderr, "\r%s %3d%%", label_.c_str(), percent);
    std::fflush(stderr);
  }
  void done() {
    if (enabled_ && last_ >= 0) std::fprintf(stderr, "\r%s done\n", label_.c_str());
    enabled_ = false;
  }

 private:
  std::string label_;
  long total_;
  bool enabled_;
  int last_ = -1;
};

inline bool progressWanted() { return SC_ISATTY(2); }

// A free-form status line on standard error, rewritten in place.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) : enabled_(enabled) {}
  ~ProgressLine() { done(); }
  void show(const std::string& text) {
    if (!enabled_) return;
    std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), text.c_str());
    if (text.size() > width_) width_ = text.size();
    std::fflush(stderr);
    shown_ = true;
  }
  void done() {
    if (enabled_ && shown_) std::fprintf(stderr, "\n");
    enabled_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
  size_t width_ = 0;
};

}  // namespace classification
