#pragma once
// The reply texts of the bridge, built from values: compact JSON, non-ASCII as UTF-8, bytes that
// are not valid UTF-8 replaced, so every reply parses on the page.
#include <string>
#include <string_view>

#include "common/outcome.h"

namespace plinthos {

std::string toReply(const json& value);
std::string toReply(const ordered_json& value);
// {"error": message}
std::string errorReply(const std::string& message);
// A bare JSON string.
std::string stringReply(std::string_view text);
// {"cancelled": true}
std::string cancelledReply();

}  // namespace plinthos
