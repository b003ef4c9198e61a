#include "engine/sink.h"

#include <unistd.h>

#include <cerrno>

namespace plinthos::engine {

void Sink::flush() {
  if (fd_ < 0 || buffer_.empty()) return;
  const char* data = buffer_.data();
  std::size_t left = buffer_.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // reader went away; nothing useful left to do with the output
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

}  // namespace plinthos::engine
