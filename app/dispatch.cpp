#include "app/dispatch.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "bridge/bridge_io.h"

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

Dispatcher::Dispatcher(std::vector<BridgeBinding> table, Reply reply, ToMain toMain)
    : table_(std::move(table)), reply_(std::move(reply)), toMain_(std::move(toMain)) {
  worker_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return closed_ || !queue_.empty(); });
      if (closed_) return;
      runOne(lock);
    }
  });
}

Dispatcher::~Dispatcher() {
  shutdown();
  if (worker_.joinable()) worker_.join();
}

void Dispatcher::post(std::size_t index, std::string id, std::string args) {
  std::string tag = tagOf(index, args);
  std::unique_lock lock(mutex_);
  if (closed_) return;
  queue_.push_back(Call{index, std::move(id), std::move(args), std::move(tag)});
  if (toMain_) {
    lock.unlock();
    wake_.notify_one();
    return;
  }
  if (draining_) return;  // a nested loop delivered it; the outer drain picks it up
  draining_ = true;
  while (!queue_.empty() && !closed_) runOne(lock);
  draining_ = false;
}

// Takes the first waiting call and runs it with the lock released; the lock is held again on
// return.
void Dispatcher::runOne(std::unique_lock<std::mutex>& lock) {
  Call call = std::move(queue_.front());
  queue_.pop_front();
  Running running{call.tag, {}};
  running_ = &running;
  lock.unlock();
  std::string json;
  {
    StopScope scope(&running.engine);
    json = answer(call);
  }
  lock.lock();
  running_ = nullptr;
  if (closed_) return;  // nobody is listening any more
  lock.unlock();
  deliver(call.id, json);
  lock.lock();
}

void Dispatcher::deliver(const std::string& id, const std::string& json) const {
  auto send = [reply = reply_, id, json] {
    try {
      reply(id, json);
    } catch (...) {
      // Nothing more can be done for this call; keep the queue moving.
    }
  };
  if (!toMain_) {
    send();
    return;
  }
  try {
    toMain_(std::move(send));
  } catch (...) {
  }
}

std::string Dispatcher::stop(const std::string& args) {
  try {
    std::vector<Call> dropped;
    std::size_t stopped = 0;
    auto values = readTextArgs(args, 1, nullptr);
    if (values && !(*values)[0].empty()) {
      const std::string& tag = (*values)[0];
      std::lock_guard lock(mutex_);
      if (running_ && running_->tag == tag) {
        running_->engine.stop();
        ++stopped;
      }
      for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->tag == tag) {
          dropped.push_back(std::move(*it));
          it = queue_.erase(it);
        } else {
          ++it;
        }
      }
      stopped += dropped.size();
      // Handed to the main thread before any later reply: the worker needs this lock to answer.
      if (toMain_) {
        for (const Call& call : dropped) deliver(call.id, cancelledReply());
        dropped.clear();
      }
    }
    // Here replies are delivered on this thread, where a reply may post again: not under the lock.
    for (const Call& call : dropped) deliver(call.id, cancelledReply());
    return toReply(json{{"stopped", stopped}});
  } catch (const std::exception& e) {
    return internalErrorReply(e.what());
  } catch (...) {
    return internalErrorReply(kUnknownFailure);
  }
}

void Dispatcher::shutdown() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
    if (running_) running_->engine.stop();
  }
  wake_.notify_all();
}

bool Dispatcher::busy() const {
  std::lock_guard lock(mutex_);
  return draining_ || running_ != nullptr || !queue_.empty();
}

std::string Dispatcher::tagOf(std::size_t index, const std::string& args) const {
  if (index >= table_.size() || !table_[index].stopTagAt) return {};
  auto parsed = BridgeArgs::parse(args, nullptr);
  if (!parsed) return {};
  auto tag = parsed->text(*table_[index].stopTagAt, nullptr);
  return tag ? std::move(*tag) : std::string();
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
