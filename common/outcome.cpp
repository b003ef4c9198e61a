#include "common/outcome.h"

namespace plinthos {

namespace {
constexpr int kCompact = -1;
}

std::string compactJson(const json& value) {
  return value.dump(kCompact, ' ', false, json::error_handler_t::replace);
}

std::string compactJson(const ordered_json& value) {
  return value.dump(kCompact, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace plinthos
