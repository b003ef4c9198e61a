#pragma once
#include <string>

namespace plinthos {
// The running executable's own path, read from /proc/self/exe without a length limit.
// Empty when it cannot be read.
std::string ownExecutablePath();
}  // namespace plinthos
