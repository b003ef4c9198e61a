// The dispatcher with a worker thread: calls run off the main thread one at a time in arrival
// order, dialogs hop to the main thread in turn, replies arrive on the main thread, and the stop
// function ends a running engine with its whole process group and drops the calls of its tag.
// The test thread plays the main thread.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/dispatch.h"
#include "services/engine_runner.h"

namespace plinthos {
namespace {

namespace fs = std::filesystem;
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

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

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

// A temporary HOME and data folder per test.
class WorkerDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/plinthos-dispatch-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root / "home");
    fs::create_directories(root / "data");
    if (const char* old = std::getenv("HOME")) oldHome = old;
    ::setenv("HOME", (root / "home").c_str(), 1);
  }
  void TearDown() override {
    if (oldHome) {
      ::setenv("HOME", oldHome->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  // An engine that answers SQL starting with "quick" at once; for anything else it starts a
  // child of its own, notes both process ids and waits.
  std::string slowEngine() {
    fs::path p = root / "engine";
    std::ofstream(p) << "#!/bin/sh\nsql=$(cat)\ncase \"$sql\" in quick*) echo '[{\"n\":1}]'; "
                        "exit 0;; esac\nsleep 300 &\necho $! > '"
                     << (root / "child").string() << "'\necho $$ > '"
                     << (root / "engine.pid").string() << "'\nwait\n";
    fs::permissions(p, fs::perms::owner_all);
    return p.string();
  }
  pid_t pidIn(const char* name) { return std::atoi(readFile(root / name).c_str()); }

  // A stoppable function that runs `engine` on its SQL argument.
  BridgeBinding engineCall(const std::string& engine) {
    std::string folder = (root / "data").string();
    std::string prefix = (root / "script_").string();
    return {"query",
            [=](const std::string& args) {
              std::string sql = nlohmann::json::parse(args)[0].get<std::string>();
              EngineRun run = runEngine(folder, engine, sql, prefix, OutputMode::Json);
              if (auto failed = failedRunReply(run, "failed")) return *failed;
              return run.output;
            },
            kQueryStopTagAt};
  }

  fs::path root;
  std::optional<std::string> oldHome;
};

TEST_F(WorkerDispatch, OrderIsKeptAcrossWaitingCallsAndDialogsAndRepliesReachTheMainThread) {
  FakeMain main;
  Log log;
  Replies replies;
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::vector<BridgeBinding> table{
      {"wait",
       [&](const std::string& a) {
         log.add("wait " + a);
         opened.wait();  // as for the engine: long, and not on the main thread
         return std::string("\"waited\"");
       }},
      {"dialog",
       [&](const std::string&) {
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
       [&](const std::string& a) {
         log.add("plain " + a);
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

  EXPECT_EQ(log.events, (std::vector<std::string>{"wait [1]", "dialog shown", "dialog answered",
                                                  "plain [2]", "wait [3]", "plain [4]"}));
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
                                   {"plain", [](const std::string&) { return std::string("1"); }}};
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
  std::vector<BridgeBinding> table{{"f", [](const std::string& a) { return a; }}};
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
}  // namespace plinthos

TEST(PageTimingLine, NamesTheThreeFiguresAndIgnoresAnythingElse) {
  const struct {
    const char* args;
    const char* line;
  } cases[] = {
      {R"([{"reply": 812.25, "drawn": 1004, "rows": 100000}])",
       "plinthos-timing: page, 100000 rows: reply arrived 812.2 ms after Run, first rows drawn "
       "1004.0 ms after Run\n"},
      {R"([{"reply": 1, "drawn": 2}])", ""},
      {R"([{"reply": "1\n", "drawn": 2, "rows": 3}])", ""},
      {R"({"reply": 1, "drawn": 2, "rows": 3})", ""},
      {"not json", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(plinthos::pageTimingLine(c.args), c.line) << c.args;
}

TEST(PageTimingScript, HandsTheStatementOverAsALiteral) {
  EXPECT_EQ(plinthos::pageTimingScript(nullptr), "window.plinthosTiming = true;");
  EXPECT_EQ(plinthos::pageTimingScript("SELECT '</script>\"\n"),
            "window.plinthosTiming = true; window.plinthosTimingStatement = "
            "\"SELECT '</script>\\\"\\n\";");
}
