#pragma once
// Runs bridge calls off the window's thread, each in the lane its binding names: store calls one
// at a time in arrival order, engine runs side by side up to a small width, dialogs one at a
// time; so a save never waits behind a query and a dashboard's panels run together. Every reply
// is handed back to the main thread. Display-free, so the lanes can be tested without a window.
#include <array>
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

  // How many engine calls run at once: the number of cores, at least 2 and at most 4. Each engine
  // run already uses every core, so more only share them; two keep a quick query from waiting
  // behind a long one, and four are enough for a dashboard while memory stays bounded.
  static std::size_t defaultEngineWidth();

  // Calls run on worker threads (one per store and dialog lane, `engineWidth` for the engine
  // lane, at least one); each reply is delivered through `toMain`.
  Dispatcher(std::vector<BridgeBinding> table, Reply reply, ToMain toMain,
             std::size_t engineWidth = defaultEngineWidth());
  // Kills the running calls' engines, drops the waiting calls unanswered and waits for every
  // worker. (The window leaves through _exit instead: a worker may wait on a dialog.)
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  const std::vector<BridgeBinding>& table() const { return table_; }

  // Takes one call of the function at `index`, its arguments decoded here once; it starts after
  // every call of its lane posted before it. A call of no function in the table is never
  // answered.
  void post(std::size_t index, std::string id, const std::string& args);

  // The stop function, answered at once, outside the lanes. Arguments: [tag]. Ends the running
  // calls and drops the waiting ones whose stop tag is `tag`, in every lane; each answers
  // {"cancelled": true} (a running call that is past its engine run answers as usual).
  // Reply: {"stopped": count}.
  std::string stop(const std::string& args) const { return stop_(CallArgs(args)); }

  // A call is running or waiting, in any lane.
  bool busy() const;

  // How many calls of one lane run and wait at this moment.
  struct Load {
    std::size_t running = 0;
    std::size_t waiting = 0;
    bool operator==(const Load&) const = default;
  };
  Load load(Lane lane) const;

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
    Lane lane;
    EngineStop engine;
  };
  struct Queue {
    std::deque<Call> waiting;
    std::condition_variable wake;
  };

  void work(Lane lane);
  void runOne(std::unique_lock<std::mutex>& lock, Lane lane);
  void shutdown();
  void deliver(std::string id, std::string json, std::optional<Steps> steps = {}) const;
  std::size_t stopTag(const std::string& tag);
  Queue& queueOf(Lane lane) { return lanes_[static_cast<std::size_t>(lane)]; }
  const Queue& queueOf(Lane lane) const { return lanes_[static_cast<std::size_t>(lane)]; }

  std::vector<BridgeBinding> table_;
  Reply reply_;
  ToMain toMain_;
  bool timing_;
  BridgeFunction stop_;

  mutable std::mutex mutex_;
  std::array<Queue, kLaneCount> lanes_;
  std::vector<Running*> running_;
  bool closed_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace plinthos
