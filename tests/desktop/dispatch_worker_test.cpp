// The dispatcher with a worker thread: calls run off the main thread one at a time in arrival
// order, dialogs hop to the main thread in turn, replies arrive on the main thread, and the stop
// function ends a running engine with its whole process group and drops the calls of its tag.
// The test thread plays the main thread.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
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

  // A stoppable function that runs `engine` on its SQL argument (this engine always starts).
  BridgeBinding engineCall(const std::string& engine) {
    const std::string folder = data.string(), prefix = (root / "script_").string();
    return {"query",
            [=](const CallArgs& args) {
              auto ran = runEngine(folder, engine, args.at(0)->get<std::string>(), prefix,
                                   OutputMode::Json);
              auto* run = std::get_if<EngineRun>(&ran);
              return run ? run->output : cancelledReply();
            },
            kQueryStopTagAt};
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

}  // namespace
}  // namespace plinthos::test

TEST(PageTimingScript, HandsTheStatementOverAsALiteral) {
  EXPECT_EQ(plinthos::pageTimingScript(nullptr), "window.plinthosTiming = true;");
  EXPECT_EQ(plinthos::pageTimingScript("SELECT '</script>\"\n"),
            "window.plinthosTiming = true; window.plinthosTimingStatement = "
            "\"SELECT '</script>\\\"\\n\";");
}
