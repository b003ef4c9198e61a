#include "store/write_all.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plinthos {

Result<Done> writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failure{std::strerror(errno)};
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return Done{};
}

}  // namespace plinthos
