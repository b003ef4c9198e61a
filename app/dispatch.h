#pragma once
// Runs bridge calls one at a time, in arrival order, each to completion, on a worker thread of
// its own, so that the window's thread never waits for the engine or the disk; every reply is
// handed back to the main thread. Display-free, so the ordering can be tested without a window.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/bridge_table.h"
#include "services/engine_runner.h"

namespace plinthos {

// What tells the page that timing is on, with the statement it puts in its editor when
// `statement` is not null (a benchmark then only has to press Run).
std::string pageTimingScript(const char* statement);

class Dispatcher {
 public:
  // Delivers one reply: the call's id and its JSON text.
  using Reply = std::function<void(const std::string& id, const std::string& json)>;
  // Has a task run on the main thread, later (the window queues it on the GTK main context).
  using ToMain = std::function<void(std::function<void()>)>;

  // Calls run on a worker thread; each reply is delivered through `toMain`.
  Dispatcher(std::vector<BridgeBinding> table, Reply reply, ToMain toMain);
  // Kills the running call's engine, drops the waiting calls unanswered and waits for the
  // worker. (The window leaves through _exit instead: its worker may wait on a dialog.)
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  const std::vector<BridgeBinding>& table() const { return table_; }

  // Takes one call of the function at `index`, its arguments decoded here once; it runs after
  // every call posted before it. A call of no function in the table is never answered.
  void post(std::size_t index, std::string id, const std::string& args);

  // The stop function, answered at once, outside the queue. Arguments: [tag]. Ends the running
  // call and drops the waiting ones whose stop tag is `tag`; each answers {"cancelled": true}
  // (a running call that is past its engine run answers as usual). Reply: {"stopped": count}.
  std::string stop(const std::string& args) const { return stop_(CallArgs(args)); }

  // A call is running or waiting.
  bool busy() const;

  // With PLINTHOS_TIMING set in the environment, each reply writes one line to standard error:
  // how long its call waited, ran, took to reach the main thread and to be handed on there.
  static constexpr const char* kTimingVariable = "PLINTHOS_TIMING";
  static constexpr const char* kTimingStatementVariable = "PLINTHOS_TIMING_STATEMENT";

 private:
  using Clock = std::chrono::steady_clock;
  struct Call {
    std::size_t index;
    std::string id;
    CallArgs args;
    std::string tag;  // empty: cannot be stopped
    Clock::time_point posted;
  };
  // When a call reached each step, for the timing line.
  struct Steps {
    std::string name;
    Clock::time_point posted, started, finished;
  };
  struct Running {
    const std::string& tag;
    EngineStop engine;
  };

  void runOne(std::unique_lock<std::mutex>& lock);
  void shutdown();
  void deliver(std::string id, std::string json, std::optional<Steps> steps = {}) const;
  std::size_t stopTag(const std::string& tag);

  std::vector<BridgeBinding> table_;
  Reply reply_;
  ToMain toMain_;
  bool timing_;
  BridgeFunction stop_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Call> queue_;
  Running* running_ = nullptr;
  bool closed_ = false;
  std::thread worker_;
};

}  // namespace plinthos
