#include "bridge/bridge_io.h"

#include "bridge/messages.h"

namespace plinthos {

namespace {
constexpr int kCompact = -1;
}

std::string toReply(const json& value) {
  return value.dump(kCompact, ' ', false, json::error_handler_t::replace);
}

std::string toReply(const ordered_json& value) {
  return value.dump(kCompact, ' ', false, ordered_json::error_handler_t::replace);
}

std::string errorReply(const std::string& text) {
  return toReply(json{{"error", text}});
}

std::string stringReply(const std::string& text) {
  return toReply(json(text));
}

std::string cancelledReply() {
  return toReply(json{{"cancelled", true}});
}

std::optional<BridgeArgs> BridgeArgs::parse(const std::string& text, std::string* problem) {
  json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_array()) {
    if (problem) *problem = messages::kArgsNotArray;
    return std::nullopt;
  }
  return BridgeArgs(std::move(parsed));
}

std::optional<std::string> BridgeArgs::text(std::size_t index, std::string* problem) const {
  if (index < array_.size() && array_[index].is_string()) {
    return array_[index].get<std::string>();
  }
  if (problem) *problem = messages::kArgMissingText + std::to_string(index + 1);
  return std::nullopt;
}

std::optional<std::vector<std::string>> readTextArgs(const std::string& args, std::size_t count,
                                                     std::string* problem) {
  auto parsed = BridgeArgs::parse(args, problem);
  if (!parsed) return std::nullopt;
  std::vector<std::string> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    auto value = parsed->text(i, problem);
    if (!value) return std::nullopt;
    out.push_back(std::move(*value));
  }
  return out;
}

}  // namespace plinthos
