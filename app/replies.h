#pragma once
// The reply texts of the bridge that every function shares, built with compactJson: non-ASCII as
// UTF-8, bytes that are not valid UTF-8 replaced, so every reply parses on the page.
#include <string>
#include <string_view>

#include "common/outcome.h"

namespace plinthos {

// {"error": message}
std::string errorReply(const std::string& message);
// A bare JSON string.
std::string stringReply(std::string_view text);
// {"cancelled": true}
std::string cancelledReply();

}  // namespace plinthos
