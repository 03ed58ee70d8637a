// Output of files processed in parallel, kept grouped per file and in the
// order the files were given: the file whose turn it is writes through at
// once, the others wait in a buffer (spilled to a temporary file beyond a
// limit, so memory stays bounded).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace classification {

class OrderedOutput {
 public:
  OrderedOutput(size_t parts, std::FILE* out, size_t bufferLimit = 1 << 20);
  ~OrderedOutput();
  OrderedOutput(const OrderedOutput&) = delete;
  OrderedOutput& operator=(const OrderedOutput&) = delete;

  void write(size_t part, const std::string& text);
  // No more text for this part.
  void finish(size_t part);
  // False once a write to the output or to a spill file failed.
  bool ok() const { return ok_; }

 private:
  struct Part {
    std::string buffer;
    std::FILE* spill = nullptr;
    bool done = false;
  };
  void put(const char* data, size_t size);
  void flushPart(Part& p);
  std::mutex mutex_;
  std::vector<Part> parts_;
  std::FILE* out_;
  size_t limit_;
  size_t current_ = 0;
  bool ok_ = true;
};

}  // namespace classification
