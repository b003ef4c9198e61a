#pragma once
// Writing a whole text to a file descriptor, for the store and the services alike.
#include <string_view>

namespace plinthos {

// Writes every byte of `data`, carrying on after short writes and interruptions. False on any
// other failure, with errno telling why.
bool writeAll(int fd, std::string_view data);

}  // namespace plinthos
