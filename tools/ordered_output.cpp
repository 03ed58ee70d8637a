#include "tools/ordered_output.h"

namespace classification {

OrderedOutput::OrderedOutput(size_t parts, std::FILE* out, size_t limit)
    : parts_(parts), out_(out), limit_(limit) {}

OrderedOutput::~OrderedOutput() {
  for (Part& p : parts_)
    if (p.spill) std::fclose(p.spill);
}

void OrderedOutput::put(const char* data, size_t size) {
  if (size && std::fwrite(data, 1, size, out_) != size) ok_ = false;
}

void OrderedOutput::flushPart(Part& p) {
  if (p.spill) {
    std::rewind(p.spill);
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p.spill)) > 0) put(buf, n);
    if (std::ferror(p.spill)) ok_ = false;
    std::fclose(p.spill);
    p.spill = nullptr;
  }
  put(p.buffer.data(), p.buffer.size());
  std::string().swap(p.buffer);
}

void OrderedOutput::write(size_t part, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Part& p = parts_[part];
  if (part == current_) {
    put(text.data(), text.size());
    return;
  }
  p.buffer += text;
  if (p.buffer.size() < limit_) return;
  if (!p.spill && !(p.spill = std::tmpfile())) {
    ok_ = false;  // keep it in memory rather than lose it
    return;
  }
  if (std::fwrite(p.buffer.data(), 1, p.buffer.size(), p.spill) != p.buffer.size()) ok_ = false;
  p.buffer.clear();
}

void OrderedOutput::finish(size_t part) {
  std::lock_guard<std::mutex> lock(mutex_);
  parts_[part].done = true;
  // Hand the turn on, writing out what the next parts have gathered.
  while (current_ < parts_.size() && parts_[current_].done) {
    ++current_;
    if (current_ < parts_.size()) flushPart(parts_[current_]);
  }
  if (current_ == parts_.size()) std::fflush(out_);
}

}  // namespace classification
