#include "app/exe_path.h"

#include <unistd.h>

#include <vector>

namespace plinthos {

std::string ownExecutablePath() {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);  // possibly cut off: try again with more room
  }
}

}  // namespace plinthos
