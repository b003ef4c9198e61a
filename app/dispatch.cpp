#include "app/dispatch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/replies.h"

namespace plinthos {

namespace {
constexpr std::size_t kMinEngineWidth = 2;
constexpr std::size_t kMaxEngineWidth = 4;

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

std::size_t Dispatcher::defaultEngineWidth() {
  return std::clamp<std::size_t>(std::thread::hardware_concurrency(), kMinEngineWidth,
                                 kMaxEngineWidth);
}

Dispatcher::Dispatcher(std::vector<BridgeBinding> table, Reply reply, ToMain toMain,
                       std::size_t engineWidth)
    : table_(std::move(table)),
      reply_(std::move(reply)),
      toMain_(std::move(toMain)),
      timing_(std::getenv(kTimingVariable) != nullptr),
      stop_(stopFunction([this](const std::string& tag) { return stopTag(tag); })) {
  static_assert(static_cast<std::size_t>(Lane::Dialog) + 1 == kLaneCount);
  try {
    for (Lane lane : {Lane::Store, Lane::Engine, Lane::Dialog}) {
      const std::size_t width = lane == Lane::Engine ? std::max<std::size_t>(engineWidth, 1) : 1;
      for (std::size_t i = 0; i < width; ++i) workers_.emplace_back([this, lane] { work(lane); });
    }
  } catch (...) {
    // No destructor runs for a constructor that throws: the workers started must be joined.
    shutdown();
    for (auto& worker : workers_) worker.join();
    throw;
  }
}

Dispatcher::~Dispatcher() {
  shutdown();
  for (auto& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

void Dispatcher::work(Lane lane) {
  Queue& queue = queueOf(lane);
  std::unique_lock lock(mutex_);
  for (;;) {
    queue.wake.wait(lock, [&] { return closed_ || !queue.waiting.empty(); });
    if (closed_) return;
    runOne(lock, lane);
  }
}

void Dispatcher::post(std::size_t index, std::string id, const std::string& args) {
  if (index >= table_.size() || !table_[index].call) return;
  CallArgs decoded(args);
  std::string tag = stopTagOf(table_[index], decoded);
  Queue& queue = queueOf(table_[index].lane);
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    queue.waiting.push_back(
        Call{index, std::move(id), std::move(decoded), std::move(tag), Clock::now()});
  }
  queue.wake.notify_one();
}

// Takes the first waiting call of `lane` and runs it with the lock released; the lock is held
// again on return. The table's functions answer every call themselves, failures included.
void Dispatcher::runOne(std::unique_lock<std::mutex>& lock, Lane lane) {
  Queue& queue = queueOf(lane);
  Call call = std::move(queue.waiting.front());
  queue.waiting.pop_front();
  Running running{call.tag, lane, {}};
  running_.push_back(&running);
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
  std::erase(running_, &running);
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
      // Nothing more can be done for this call; keep the lane moving.
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
  for (Running* running : running_) {
    if (running->tag == tag) {
      running->engine.stop();
      ++stopped;
    }
  }
  // Handed to the main thread under the lock, so before any later reply of a worker.
  for (Queue& queue : lanes_) {
    for (auto it = queue.waiting.begin(); it != queue.waiting.end();) {
      if (it->tag == tag) {
        deliver(it->id, cancelledReply());
        it = queue.waiting.erase(it);
        ++stopped;
      } else {
        ++it;
      }
    }
  }
  return stopped;
}

void Dispatcher::shutdown() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Queue& queue : lanes_) queue.waiting.clear();
    for (Running* running : running_) running->engine.stop();
  }
  for (Queue& queue : lanes_) queue.wake.notify_all();
}

bool Dispatcher::busy() const {
  std::lock_guard lock(mutex_);
  if (!running_.empty()) return true;
  for (const Queue& queue : lanes_) {
    if (!queue.waiting.empty()) return true;
  }
  return false;
}

Dispatcher::Load Dispatcher::load(Lane lane) const {
  std::lock_guard lock(mutex_);
  Load load{0, queueOf(lane).waiting.size()};
  for (const Running* running : running_) {
    if (running->lane == lane) ++load.running;
  }
  return load;
}

}  // namespace plinthos
