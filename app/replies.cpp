#include "app/replies.h"

namespace plinthos {

std::string errorReply(const std::string& message) {
  return compactJson(json{{"error", message}});
}

std::string stringReply(std::string_view text) {
  return compactJson(json(text));
}

std::string cancelledReply() {
  return compactJson(json{{"cancelled", true}});
}

}  // namespace plinthos
