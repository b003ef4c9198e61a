#pragma once
// Writing a whole text to a file descriptor, for the store and the services alike.
#include <sys/types.h>

#include <string_view>

#include "common/outcome.h"

namespace plinthos {

// The mode a new document is created with, narrowed by the umask as for any saved document.
inline constexpr mode_t kNewFileMode = 0666;

// Writes every byte of `data`, carrying on after short writes and interruptions. Failures: the
// system's description of any other error.
Result<Done> writeAll(int fd, std::string_view data);

}  // namespace plinthos
