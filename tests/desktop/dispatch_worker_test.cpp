// The dispatcher's lanes: calls run off the main thread, one at a time in arrival order within
// the store and dialog lanes, side by side up to the width in the engine lane, none waiting for
// another lane; dialogs hop to the main thread in turn, replies arrive on the main thread, and the
// stop function ends a running engine with its whole process group and drops the calls of its
// tag, in any lane. The test thread plays the main thread.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

#include "app/dispatch.h"
#include "app/replies.h"
#include "services/engine_runner.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kFailsafe = 60s;  // only so that a broken build fails instead of hanging

// The main thread's task queue; the test thread runs it.
class FakeMain {
 public:
  void post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    posted_.notify_all();
  }
  // Runs posted tasks until `done` holds; false if nothing more came.
  bool runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kFailsafe;
    std::unique_lock lock(mutex_);
    while (!done()) {
      if (!posted_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return false;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
    return true;
  }
  void runPending() {
    runUntil([this] { return tasks_.empty(); });
  }
  Dispatcher::ToMain poster() {
    return [this](std::function<void()> task) { post(std::move(task)); };
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
};

// Thread-safe record of what happened, and where.
struct Log {
  std::mutex mutex;
  std::vector<std::string> events;
  std::vector<std::thread::id> threads;
  void add(std::string event) {
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
    threads.push_back(std::this_thread::get_id());
  }
};

struct Replies {
  std::vector<std::pair<std::string, std::string>> got;
  std::vector<std::thread::id> threads;
  Dispatcher::Reply recorder() {
    return [this](const std::string& id, const std::string& json) {
      got.emplace_back(id, json);
      threads.push_back(std::this_thread::get_id());
    };
  }
};

// A process that still runs (an ended one may linger as a zombie, which runs nothing).
bool running(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool waitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kFailsafe;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class WorkerDispatch : public NativeTest {
 protected:
  // An engine that answers SQL starting with "quick" at once; for anything else it starts a
  // child of its own, notes both process ids and waits.
  std::string slowEngine() {
    fs::path p = root / "engine";
    writeScript(p,
                "sql=$(cat)\ncase \"$sql\" in quick*) echo '[{\"n\":1}]'; exit 0;; esac\n"
                "sleep 300 &\necho $! > " +
                    sq((root / "child").string()) + "\necho $$ > " +
                    sq((root / "engine.pid").string()) + "\nwait\n");
    return p.string();
  }
  pid_t pidIn(const char* name) { return std::atoi(readFile(root / name).c_str()); }

  // An engine that answers SQL starting with "quick" at once; for any other SQL it writes its
  // process id to a file named after the SQL and waits.
  std::string engineNamingItsRun() {
    fs::path p = root / "named-engine";
    writeScript(p,
                "sql=$(cat)\ncase \"$sql\" in quick*) echo '[{\"n\":1}]'; exit 0;; esac\n"
                "echo $$ > " +
                    sq(root.string()) + "/\"pid-$sql\"\nsleep 300 &\nwait\n");
    return p.string();
  }
  pid_t runOf(const std::string& sql) { return pidIn(("pid-" + sql).c_str()); }

  // A stoppable function that runs `engine` on its SQL argument (this engine always starts).
  BridgeBinding engineCall(const std::string& engine, Lane lane = Lane::Store) {
    const std::string folder = data.string(), prefix = (root / "script_").string();
    return {"query",
            [=](const CallArgs& args) {
              auto ran = runEngine(folder, engine, args.at(0)->get<std::string>(), prefix,
                                   OutputMode::Json);
              auto* run = std::get_if<EngineRun>(&ran);
              return run ? run->output : cancelledReply();
            },
            kQueryStopTagAt, lane};
  }
};

TEST_F(WorkerDispatch, OrderIsKeptAcrossWaitingCallsAndDialogsAndRepliesReachTheMainThread) {
  FakeMain main;
  Log log;
  Replies replies;
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::vector<BridgeBinding> table{
      {"wait",
       [&](const CallArgs& a) {
         log.add("wait " + a.at(0)->dump());
         opened.wait();  // as for the engine: long, and not on the main thread
         return std::string("\"waited\"");
       }},
      {"dialog",
       [&](const CallArgs&) {
         // As the GTK dialogs do from the worker: shown on the main thread, waited for here.
         std::promise<std::string> chosen;
         main.post([&] {
           log.add("dialog shown");
           chosen.set_value("\"/chosen\"");
         });
         std::string answer = chosen.get_future().get();
         log.add("dialog answered");
         return answer;
       }},
      {"plain",
       [&](const CallArgs& a) {
         log.add("plain " + a.at(0)->dump());
         return std::string("\"ok\"");
       }},
  };
  const auto mainThread = std::this_thread::get_id();
  Dispatcher dispatcher(std::move(table), replies.recorder(), main.poster());

  dispatcher.post(0, "a", "[1]");
  dispatcher.post(1, "b", "[]");
  dispatcher.post(2, "c", "[2]");
  dispatcher.post(0, "d", "[3]");
  dispatcher.post(2, "e", "[4]");
  // Posting returned while the first call still waits: the main thread is free.
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard lock(log.mutex);
    return !log.events.empty();
  }));
  EXPECT_TRUE(dispatcher.busy());
  EXPECT_TRUE(replies.got.empty());
  gate.set_value();
  ASSERT_TRUE(main.runUntil([&] { return replies.got.size() == 5; }));

  EXPECT_EQ(log.events, (std::vector<std::string>{"wait 1", "dialog shown", "dialog answered",
                                                  "plain 2", "wait 3", "plain 4"}));
  for (std::size_t i = 0; i < log.events.size(); ++i) {
    EXPECT_EQ(log.threads[i] == mainThread, log.events[i] == "dialog shown") << log.events[i];
  }
  std::vector<std::string> ids;
  for (const auto& [id, json] : replies.got) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(replies.got[1].second, "\"/chosen\"");
  for (auto thread : replies.threads) EXPECT_EQ(thread, mainThread);
  EXPECT_FALSE(dispatcher.busy());
}

TEST_F(WorkerDispatch, StopEndsTheRunningEngineGroupAndItsTagOnlyAndLaterCallsRun) {
  FakeMain main;
  Replies replies;
  std::vector<BridgeBinding> table{engineCall(slowEngine()),
                                   {"plain", [](const CallArgs&) { return std::string("1"); }}};
  Dispatcher dispatcher(std::move(table), replies.recorder(), main.poster());

  // Nothing runs yet: harmless.
  EXPECT_EQ(dispatcher.stop(R"(["page"])"), R"({"stopped":0})");
  dispatcher.post(0, "running", R"(["slow", "page"])");
  dispatcher.post(0, "queued", R"(["slow too", "page"])");
  dispatcher.post(1, "plain", "[]");
  dispatcher.post(0, "otherTag", R"(["quick", "dashboard"])");
  dispatcher.post(0, "untagged", R"(["quick"])");
  ASSERT_TRUE(waitFor([&] { return pidIn("engine.pid") > 0; }));
  const pid_t engine = pidIn("engine.pid");
  const pid_t child = pidIn("child");
  ASSERT_TRUE(running(engine));
  ASSERT_TRUE(running(child));

  // Another tag drops only its own waiting call; no tag stops nothing.
  EXPECT_EQ(dispatcher.stop(R"(["dashboard"])"), R"({"stopped":1})");
  EXPECT_EQ(dispatcher.stop("[]"), R"({"stopped":0})");
  EXPECT_EQ(dispatcher.stop(R"([""])"), R"({"stopped":0})");
  EXPECT_TRUE(running(engine));

  EXPECT_EQ(dispatcher.stop(R"(["page"])"), R"({"stopped":2})");
  ASSERT_TRUE(main.runUntil([&] { return replies.got.size() == 5; }));
  // The dropped calls answer at once, the running one once its engine is gone.
  EXPECT_EQ(replies.got[0],
            (std::pair<std::string, std::string>{"otherTag", R"({"cancelled":true})"}));
  EXPECT_EQ(replies.got[1],
            (std::pair<std::string, std::string>{"queued", R"({"cancelled":true})"}));
  EXPECT_EQ(replies.got[2],
            (std::pair<std::string, std::string>{"running", R"({"cancelled":true})"}));
  EXPECT_EQ(replies.got[3], (std::pair<std::string, std::string>{"plain", "1"}));
  EXPECT_EQ(replies.got[4].first, "untagged");
  EXPECT_EQ(replies.got[4].second, "[{\"n\":1}]\n");
  EXPECT_TRUE(waitFor([&] { return !running(engine) && !running(child); }))
      << "the engine or its child outlived the stop";
  EXPECT_EQ(dispatcher.stop(R"(["page"])"), R"({"stopped":0})");
}

TEST_F(WorkerDispatch, AFailingReplyDoesNotStallTheQueue) {
  FakeMain main;
  std::vector<std::string> delivered;
  std::vector<BridgeBinding> table{{"f", [](const CallArgs&) { return std::string("1"); }}};
  Dispatcher dispatcher(
      std::move(table),
      [&](const std::string& id, const std::string&) {
        if (id == "bad") throw std::runtime_error("window gone");
        delivered.push_back(id);
      },
      main.poster());
  dispatcher.post(0, "bad", "[]");
  dispatcher.post(0, "good", "[]");
  dispatcher.post(1, "nothing bound there", "[]");
  ASSERT_TRUE(main.runUntil([&] { return delivered.size() == 1; }));
  EXPECT_EQ(delivered, std::vector<std::string>{"good"});
  EXPECT_TRUE(waitFor([&] { return !dispatcher.busy(); }));
}

TEST_F(WorkerDispatch, DestroyingItEndsTheRunningEngineAndDropsTheRestUnanswered) {
  FakeMain main;
  Replies replies;
  pid_t engine = 0;
  {
    Dispatcher dispatcher({engineCall(slowEngine())}, replies.recorder(), main.poster());
    dispatcher.post(0, "running", R"(["slow"])");
    dispatcher.post(0, "queued", R"(["quick"])");
    ASSERT_TRUE(waitFor([&] { return pidIn("engine.pid") > 0; }));
    engine = pidIn("engine.pid");
  }  // the engine is killed, so the worker can be joined
  EXPECT_TRUE(waitFor([&] { return !running(engine); }));
  main.runPending();
  EXPECT_TRUE(replies.got.empty());
}

// Calls that wait until the test lets each one through by its key; what entered, in order.
class Gate {
 public:
  std::string pass(const std::string& key) {
    std::unique_lock lock(mutex_);
    entered_.push_back(key);
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_.count(key) > 0; });
    return json(key).dump();
  }
  void open(const std::string& key) {
    std::lock_guard lock(mutex_);
    open_.insert(key);
    changed_.notify_all();
  }
  // Waits until `count` calls have entered; false if they never do.
  bool entered(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kFailsafe, [&] { return entered_.size() >= count; });
  }
  std::vector<std::string> order() {
    std::lock_guard lock(mutex_);
    return entered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> entered_;
  std::set<std::string> open_;
};

BridgeBinding gated(Gate& gate, Lane lane) {
  return {"gated", [&gate](const CallArgs& a) { return gate.pass(a.at(0)->get<std::string>()); },
          kQueryStopTagAt, lane};
}

TEST(EngineWidth, IsTheNumberOfCoresWithinTwoAndFour) {
  const std::size_t width = Dispatcher::defaultEngineWidth();
  EXPECT_GE(width, 2u);
  EXPECT_LE(width, 4u);
  if (std::thread::hardware_concurrency() >= 2 && std::thread::hardware_concurrency() <= 4) {
    EXPECT_EQ(width, std::thread::hardware_concurrency());
  }
}

// A save and the read after it are answered, in their order, while an engine run and a dialog
// both still wait; the read sees the save.
TEST_F(WorkerDispatch, StoreCallsAreAnsweredInOrderWhileAnEngineRunAndADialogWait) {
  FakeMain main;
  Replies replies;
  Gate gate;
  std::vector<std::string> stored;  // only the store lane touches it
  std::vector<BridgeBinding> table{
      gated(gate, Lane::Engine),
      gated(gate, Lane::Dialog),
      {"save",
       [&](const CallArgs& a) {
         stored.push_back(a.at(0)->get<std::string>());
         return std::string("\"ok\"");
       }},
      {"read", [&](const CallArgs&) { return json(stored).dump(); }},
  };
  Dispatcher dispatcher(std::move(table), replies.recorder(), main.poster());
  dispatcher.post(0, "query", R"(["query"])");
  dispatcher.post(1, "dialog", R"(["dialog"])");
  ASSERT_TRUE(gate.entered(2));
  const std::vector<std::pair<std::size_t, std::string>> storeCalls = {
      {2, R"(["a"])"}, {3, "[]"}, {2, R"(["b"])"}, {3, "[]"}};
  for (std::size_t i = 0; i < storeCalls.size(); ++i) {
    dispatcher.post(storeCalls[i].first, "store" + std::to_string(i), storeCalls[i].second);
  }
  ASSERT_TRUE(main.runUntil([&] { return replies.got.size() == storeCalls.size(); }));
  EXPECT_EQ(replies.got,
            (std::vector<std::pair<std::string, std::string>>{{"store0", "\"ok\""},
                                                              {"store1", R"(["a"])"},
                                                              {"store2", "\"ok\""},
                                                              {"store3", R"(["a","b"])"}}));
  EXPECT_EQ(dispatcher.load(Lane::Engine), (Dispatcher::Load{1, 0}));
  EXPECT_EQ(dispatcher.load(Lane::Dialog), (Dispatcher::Load{1, 0}));
  EXPECT_EQ(dispatcher.load(Lane::Store), (Dispatcher::Load{0, 0}));

  gate.open("query");
  gate.open("dialog");
  ASSERT_TRUE(main.runUntil([&] { return replies.got.size() == storeCalls.size() + 2; }));
  EXPECT_FALSE(dispatcher.busy());
}

// Engine calls start in arrival order, as many at once as the width allows; the next one starts
// when any of them ends. Dialogs go one at a time whatever the width.
TEST_F(WorkerDispatch, EngineCallsRunSideBySideUpToTheWidthAndDialogsOneAtATime) {
  struct Case {
    Lane lane;
    std::size_t width;
    std::size_t atOnce;
  };
  const std::vector<Case> cases = {
      {Lane::Engine, 1, 1}, {Lane::Engine, 2, 2}, {Lane::Engine, 3, 3}, {Lane::Dialog, 3, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE("width " + std::to_string(c.width));
    FakeMain main;
    Replies replies;
    Gate gate;
    Dispatcher dispatcher({gated(gate, c.lane)}, replies.recorder(), main.poster(), c.width);
    const std::size_t calls = c.atOnce + 2;
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < calls; ++i) {
      keys.push_back("run" + std::to_string(i));
      dispatcher.post(0, keys.back(), json::array({keys.back()}).dump());
    }
    ASSERT_TRUE(gate.entered(c.atOnce));
    ASSERT_TRUE(waitFor([&] { return dispatcher.load(c.lane).running == c.atOnce; }));
    EXPECT_EQ(dispatcher.load(c.lane), (Dispatcher::Load{c.atOnce, calls - c.atOnce}));
    EXPECT_EQ(gate.order(), std::vector<std::string>(keys.begin(), keys.begin() + c.atOnce));

    // The last one started ends first: the next waiting call takes its place.
    gate.open(keys[c.atOnce - 1]);
    ASSERT_TRUE(gate.entered(c.atOnce + 1));
    EXPECT_EQ(gate.order().back(), keys[c.atOnce]);
    ASSERT_TRUE(main.runUntil([&] { return replies.got.size() == 1; }));
    EXPECT_EQ(replies.got[0].first, keys[c.atOnce - 1]);
    for (const auto& key : keys) gate.open(key);
    ASSERT_TRUE(main.runUntil([&] { return replies.got.size() == calls; }));
    EXPECT_EQ(gate.order(), keys);
  }
}

// In each lane, stopping a tag ends its running engine and drops its waiting call, and leaves
// the other lanes' calls running.
TEST_F(WorkerDispatch, StopFindsItsCallsRunningOrWaitingInEveryLane) {
  const std::vector<std::pair<Lane, std::string>> lanes = {
      {Lane::Store, "store"}, {Lane::Engine, "engine"}, {Lane::Dialog, "dialog"}};
  FakeMain main;
  Replies replies;
  const std::string engine = engineNamingItsRun();
  std::vector<BridgeBinding> table;
  for (const auto& [lane, name] : lanes) table.push_back(engineCall(engine, lane));
  Dispatcher dispatcher(std::move(table), replies.recorder(), main.poster(), 1);
  for (std::size_t i = 0; i < lanes.size(); ++i) {
    const std::string& name = lanes[i].second;
    dispatcher.post(i, name + " running", json::array({"slow-" + name, name}).dump());
    dispatcher.post(i, name + " waiting", json::array({"quick", name}).dump());
  }
  for (const auto& [lane, name] : lanes) {
    ASSERT_TRUE(waitFor([&] { return runOf("slow-" + name) > 0; })) << name;
    EXPECT_EQ(dispatcher.load(lane), (Dispatcher::Load{1, 1})) << name;
  }

  std::size_t answered = 0;
  for (std::size_t i = 0; i < lanes.size(); ++i) {
    const auto& [lane, name] = lanes[i];
    SCOPED_TRACE(name);
    EXPECT_EQ(dispatcher.stop(json::array({name}).dump()), R"({"stopped":2})");
    answered += 2;
    ASSERT_TRUE(main.runUntil([&] { return replies.got.size() == answered; }));
    EXPECT_EQ(replies.got[answered - 2],
              (std::pair<std::string, std::string>{name + " waiting", R"({"cancelled":true})"}));
    EXPECT_EQ(replies.got[answered - 1],
              (std::pair<std::string, std::string>{name + " running", R"({"cancelled":true})"}));
    EXPECT_TRUE(waitFor([&] { return !running(runOf("slow-" + name)); }));
    for (std::size_t j = i + 1; j < lanes.size(); ++j) {
      EXPECT_TRUE(running(runOf("slow-" + lanes[j].second))) << lanes[j].second;
    }
  }
  EXPECT_TRUE(waitFor([&] { return !dispatcher.busy(); }));
}

// Destroyed with a call running and one waiting in every lane: every engine is killed, nothing
// is answered, and every worker is joined.
TEST_F(WorkerDispatch, DestroyingItEndsTheRunsOfEveryLane) {
  const std::vector<std::pair<Lane, std::string>> lanes = {
      {Lane::Store, "store"}, {Lane::Engine, "engine"}, {Lane::Dialog, "dialog"}};
  FakeMain main;
  Replies replies;
  const std::string engine = engineNamingItsRun();
  std::vector<pid_t> runs;
  {
    std::vector<BridgeBinding> table;
    for (const auto& [lane, name] : lanes) table.push_back(engineCall(engine, lane));
    Dispatcher dispatcher(std::move(table), replies.recorder(), main.poster(), 2);
    for (std::size_t i = 0; i < lanes.size(); ++i) {
      const std::string& name = lanes[i].second;
      dispatcher.post(i, name, json::array({"slow-" + name}).dump());
      if (lanes[i].first == Lane::Engine) {
        dispatcher.post(i, name + " 2", json::array({"slow-" + name + "-2"}).dump());
      }
      dispatcher.post(i, name + " waiting", R"(["quick"])");
    }
    for (const std::string sql : {"slow-store", "slow-engine", "slow-engine-2", "slow-dialog"}) {
      ASSERT_TRUE(waitFor([&] { return runOf(sql) > 0; })) << sql;
      runs.push_back(runOf(sql));
    }
    EXPECT_EQ(dispatcher.load(Lane::Engine), (Dispatcher::Load{2, 1}));
  }
  for (pid_t run : runs) EXPECT_TRUE(waitFor([&] { return !running(run); }));
  main.runPending();
  EXPECT_TRUE(replies.got.empty());
}

}  // namespace
}  // namespace plinthos::test

TEST(PageTimingScript, HandsTheStatementOverAsALiteral) {
  EXPECT_EQ(plinthos::pageTimingScript(nullptr), "window.plinthosTiming = true;");
  EXPECT_EQ(plinthos::pageTimingScript("SELECT '</script>\"\n"),
            "window.plinthosTiming = true; window.plinthosTimingStatement = "
            "\"SELECT '</script>\\\"\\n\";");
}
