#include "app/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/replies.h"

namespace plinthos {

namespace {
double msBetween(std::chrono::steady_clock::time_point from,
                 std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}
}  // namespace

std::string pageTimingScript(const char* statement) {
  std::string script = "window.plinthosTiming = true;";
  if (statement) {
    // A JSON string is a script literal; bytes that are not UTF-8 become U+FFFD.
    script += " window.plinthosTimingStatement = " + compactJson(json(statement)) + ";";
  }
  return script;
}

Dispatcher::Dispatcher(std::vector<BridgeBinding> table, Reply reply, ToMain toMain)
    : table_(std::move(table)),
      reply_(std::move(reply)),
      toMain_(std::move(toMain)),
      timing_(std::getenv(kTimingVariable) != nullptr),
      stop_(stopFunction([this](const std::string& tag) { return stopTag(tag); })) {
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

void Dispatcher::post(std::size_t index, std::string id, const std::string& args) {
  if (index >= table_.size() || !table_[index].call) return;
  CallArgs decoded(args);
  std::string tag = stopTagOf(table_[index], decoded);
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    queue_.push_back(Call{index, std::move(id), std::move(decoded), std::move(tag), Clock::now()});
  }
  wake_.notify_one();
}

// Takes the first waiting call and runs it with the lock released; the lock is held again on
// return. The table's functions answer every call themselves, failures included.
void Dispatcher::runOne(std::unique_lock<std::mutex>& lock) {
  Call call = std::move(queue_.front());
  queue_.pop_front();
  Running running{call.tag, {}};
  running_ = &running;
  lock.unlock();
  std::string json;
  const Clock::time_point started = Clock::now();
  {
    StopScope scope(&running.engine);
    json = table_[call.index].call(call.args);
  }
  std::optional<Steps> steps;
  if (timing_) steps = Steps{table_[call.index].name, call.posted, started, Clock::now()};
  lock.lock();
  running_ = nullptr;
  if (closed_) return;  // nobody is listening any more
  lock.unlock();
  // A reply may run to many megabytes: moved, never copied.
  deliver(std::move(call.id), std::move(json), std::move(steps));
  lock.lock();
}

void Dispatcher::deliver(std::string id, std::string json, std::optional<Steps> steps) const {
  auto send = [reply = reply_, id = std::move(id), json = std::move(json),
               steps = std::move(steps)] {
    const Clock::time_point reached = Clock::now();
    try {
      reply(id, json);
    } catch (...) {
      // Nothing more can be done for this call; keep the queue moving.
    }
    if (steps) {
      std::fprintf(stderr,
                   "plinthos-timing: %s, reply of %zu bytes: waited %.1f ms, ran %.1f ms, "
                   "reached the main thread %.1f ms later, handed on in %.1f ms\n",
                   steps->name.c_str(), json.size(), msBetween(steps->posted, steps->started),
                   msBetween(steps->started, steps->finished), msBetween(steps->finished, reached),
                   msBetween(reached, Clock::now()));
    }
  };
  try {
    toMain_(std::move(send));
  } catch (...) {
  }
}

std::size_t Dispatcher::stopTag(const std::string& tag) {
  std::lock_guard lock(mutex_);
  std::size_t stopped = 0;
  if (running_ && running_->tag == tag) {
    running_->engine.stop();
    ++stopped;
  }
  // Handed to the main thread under the lock, so before any later reply of the worker.
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (it->tag == tag) {
      deliver(it->id, cancelledReply());
      it = queue_.erase(it);
      ++stopped;
    } else {
      ++it;
    }
  }
  return stopped;
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
  return running_ != nullptr || !queue_.empty();
}

}  // namespace plinthos
