#include "app/replies.h"

namespace plinthos {

std::string toReply(const json& value) {
  return compactJson(value);
}

std::string toReply(const ordered_json& value) {
  return compactJson(value);
}

std::string errorReply(const std::string& message) {
  return toReply(json{{"error", message}});
}

std::string stringReply(std::string_view text) {
  return toReply(json(text));
}

std::string cancelledReply() {
  return toReply(json{{"cancelled", true}});
}

}  // namespace plinthos
