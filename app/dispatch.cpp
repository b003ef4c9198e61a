#include "app/dispatch.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

namespace plinthos {

namespace {
constexpr const char* kUnknownFailure = "unknown failure";
constexpr const char* kInvalidReply = "invalid reply";
}  // namespace

std::string internalErrorReply(const char* what) {
  return nlohmann::json{{"error", what}}.dump(-1, ' ', false,
                                              nlohmann::json::error_handler_t::replace);
}

Dispatcher::Dispatcher(std::vector<BridgeBinding> table, Reply reply)
    : table_(std::move(table)), reply_(std::move(reply)) {}

void Dispatcher::post(std::size_t index, std::string id, std::string args) {
  queue_.push_back(Call{index, std::move(id), std::move(args)});
  if (running_) return;  // a nested loop delivered it; the outer drain picks it up
  running_ = true;
  while (!queue_.empty()) {
    Call call = std::move(queue_.front());
    queue_.pop_front();
    const std::string json = answer(call);
    try {
      reply_(call.id, json);
    } catch (...) {
      // Nothing more can be done for this call; keep the queue moving.
    }
  }
  running_ = false;
}

std::string Dispatcher::answer(const Call& call) const {
  if (call.index >= table_.size() || !table_[call.index].call)
    return internalErrorReply(kUnknownFailure);
  try {
    std::string json = table_[call.index].call(call.args);
    // The page parses every reply; text that is not JSON would reject its promise.
    if (!nlohmann::json::accept(json)) return internalErrorReply(kInvalidReply);
    return json;
  } catch (const std::exception& e) {
    return internalErrorReply(e.what());
  } catch (...) {
    return internalErrorReply(kUnknownFailure);
  }
}

}  // namespace plinthos
