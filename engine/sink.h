#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace plinthos::engine {

// Output buffer. With a file descriptor it drains to it whenever it grows past the flush
// threshold (callers check at row boundaries); without one it is a reusable scratch text.
class Sink {
 public:
  static constexpr std::size_t kFlushThreshold = 64 * 1024;

  explicit Sink(int fd = -1) : fd_(fd) { buffer_.reserve(fd >= 0 ? 2 * kFlushThreshold : 256); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  ~Sink() { flush(); }

  void put(char c) { buffer_.push_back(c); }
  void write(const char* data, std::size_t size) { buffer_.append(data, size); }
  void write(std::string_view text) { buffer_.append(text.data(), text.size()); }

  // Space for up to `size` bytes written directly; finish with commit(end pointer).
  char* reserve(std::size_t size) {
    mark_ = buffer_.size();
    buffer_.resize(mark_ + size);
    return buffer_.data() + mark_;
  }
  void commit(const char* end) { buffer_.resize(static_cast<std::size_t>(end - buffer_.data())); }
  // Overwrites bytes already written, at `at` (an earlier size()).
  void patch(std::size_t at, const void* data, std::size_t size) {
    std::memcpy(buffer_.data() + at, data, size);
  }

  void maybeFlush() {
    if (buffer_.size() >= kFlushThreshold) flush();
  }
  void flush();

  void clear() { buffer_.clear(); }
  std::string_view view() const { return buffer_; }
  std::size_t size() const { return buffer_.size(); }

 private:
  int fd_;
  std::size_t mark_ = 0;
  std::string buffer_;
};

}  // namespace plinthos::engine
