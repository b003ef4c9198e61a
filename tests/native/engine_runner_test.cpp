// How the engine is started: temp script, program and arguments, output capture, exit status.
#include "services/engine_runner.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using EngineRunnerTest = NativeTest;

TEST_F(EngineRunnerTest, HostileFolderAndEngineNamesRunNothing) {
  const std::string hostile = "a\"b $(touch PWNED) `touch PWNED` \\ 'q' ;touch PWNED\nend";
  fs::path folder = data / hostile;
  fs::create_directories(folder);
  setBucket(folder);
  fakeEngine("[{\"x\":1}]");
  fs::path oddEngine = root / ("engine " + hostile);
  fs::copy_file(engine, oddEngine);
  engine = oddEngine.string();

  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1"})),
            R"({"columns":["x"],"numericCols":[true],"rows":[["1"]]})");
  EXPECT_EQ(receivedFolder(), folder.string());
  EXPECT_EQ(receivedArgs(), ":memory:\n-json\n-columns\n");
  EXPECT_EQ(receivedSql(), "SELECT 1");
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    EXPECT_NE(e.path().filename(), "PWNED");
  }
  EXPECT_FALSE(fs::exists("PWNED"));
}

TEST_F(EngineRunnerTest, PlantedLinkAtTheTempScriptIsNeverWrittenThrough) {
  fs::path victim = root / "victim.txt";
  writeFile(victim, "precious");
  const std::string script = tempScriptFor("/tmp/duckquery_");
  fs::create_symlink(victim, script);
  fakeEngine("[]");
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 2"})),
            R"({"columns":[],"numericCols":[],"rows":[]})");
  EXPECT_EQ(readFile(victim), "precious");
  EXPECT_EQ(receivedSql(), "SELECT 2");
  fs::remove(script);

  // The script, which holds the user's SQL, is readable by its owner only.
  fs::path p = root / "mode-engine";
  writeScript(p, "cat > /dev/null\nstat -L -c %a /dev/stdin >&2\nexit 1\n");
  engine = p.string();
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 3"})), R"({"error":"600\n"})");
}

bool alive(pid_t pid) {
  return ::kill(pid, 0) == 0;
}

// Waits up to `seconds` for `done`; a bound on the test, not a timing claim.
template <typename Done>
bool eventually(Done done, int seconds = 10) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// However the app ends, its engine ends with it and none of its scripts stays behind.
TEST_F(EngineRunnerTest, NoEngineOrScriptOutlivesTheApp) {
  const fs::path pidFile = root / "engine-pid";
  fs::path sleeper = root / "sleeping-engine";
  writeScript(sleeper, "echo $$ > " + sq(pidFile.string()) + "\nexec sleep 60\n");
  const fs::path scripts = root / "tmp";
  fs::create_directories(scripts);
  const std::string prefix = (scripts / "duckquery_").string();
  // An orphaned engine comes to us, so that we can tell a dead one from a running one.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  for (int signal : {SIGKILL, SIGTERM, SIGSEGV}) {
    SCOPED_TRACE(signal);
    fs::remove(pidFile);
    pid_t app = ::fork();
    ASSERT_GE(app, 0);
    if (app == 0) {
      runEngine(data.string(), sleeper.string(), "SELECT 'secret'", prefix, OutputMode::Json);
      ::_exit(0);
    }
    ASSERT_TRUE(eventually([&] { return fs::exists(pidFile) && fs::file_size(pidFile) > 0; }));
    const pid_t engineProcess = std::stoi(readFile(pidFile));
    EXPECT_TRUE(fs::is_empty(scripts)) << "the script has a name while the engine runs";
    ::kill(app, signal);
    ::waitpid(app, nullptr, 0);
    EXPECT_TRUE(eventually([&] {
      ::waitpid(engineProcess, nullptr, WNOHANG);  // reaped by init, or by us as a subreaper
      return !alive(engineProcess);
    })) << "the engine outlived the app";
    if (alive(engineProcess)) ::kill(engineProcess, SIGKILL);
  }
  EXPECT_TRUE(fs::is_empty(scripts));
}

TEST_F(EngineRunnerTest, StaleScriptsOfGoneProcessesAreRemoved) {
  pid_t gone = ::fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string dead = std::to_string(gone);
  const std::string living = std::to_string(::getpid());
  const fs::path folder = root / "tmp";
  struct Entry {
    std::string name;
    bool removed;
  };
  const std::vector<Entry> entries = {
      {"duckquery_" + dead + "_a1B2c3.sql", true},    {"duckconv_" + dead + ".sql", true},
      {"duckquery_" + living + "_a1B2c3.sql", false}, {"duckquery_" + dead + "_a1.sql", false},
      {"duckquery_" + dead + ".txt", false},          {"notduck_" + dead + ".sql", false},
      {"duckQuery_" + dead + ".sql", false},          {"duck_" + dead + ".sql", false},
  };
  for (const auto& e : entries) writeFile(folder / e.name, "SELECT 'secret'");
  fs::create_directory(folder / ("duckschema_" + dead + ".sql"));  // not a plain file
  EXPECT_EQ(removeStaleEngineScripts(folder.string()), 2u);
  for (const auto& e : entries) EXPECT_EQ(fs::exists(folder / e.name), !e.removed) << e.name;
  EXPECT_TRUE(fs::exists(folder / ("duckschema_" + dead + ".sql")));
}

TEST_F(EngineRunnerTest, NoPlaceForTheTempScriptMeansNoRun) {
  fakeEngine("[]");
  auto run = runEngine(data.string(), engine, "SELECT 1", (root / "gone" / "q_").string(),
                       OutputMode::Json);
  ASSERT_TRUE(std::holds_alternative<Failure>(run));
  EXPECT_EQ(std::get<Failure>(run).message, "Failed to create temp file");
  EXPECT_FALSE(fs::exists(root / "rec-stdin")) << "the engine must not start";
}

// Each run has a script of its own: two at once each run their own SQL.
TEST_F(EngineRunnerTest, TwoRunsAtOnceKeepTheirOwnScripts) {
  fs::path p = root / "slow-echo";
  writeScript(p, "sleep 0.3\ncat\n");
  auto run = [&](const std::string& sql) {
    return std::async(std::launch::async, [&, sql] {
      return runEngine(data.string(), p.string(), sql, "/tmp/duckquery_", OutputMode::Json);
    });
  };
  auto first = run("SELECT 'first'");
  auto second = run("SELECT 'second'");
  EXPECT_EQ(std::get<EngineRun>(first.get()).output, "SELECT 'first'");
  EXPECT_EQ(std::get<EngineRun>(second.get()).output, "SELECT 'second'");
}

TEST_F(EngineRunnerTest, ExitStatusDecidesAndAKilledEngineIsNoSuccess) {
  fakeEngine("Parser Error: syntax error at end of input\n", 1);
  EXPECT_EQ(call("queryDuckCpp", args({"SELEC"})),
            R"({"error":"Parser Error: syntax error at end of input\n"})");
  fakeEngine("", 3);
  EXPECT_EQ(call("queryDuckCpp", args({"x"})), R"({"error":"Query failed"})");

  // Complete-looking output, then the engine dies: not a result, and the answer says why.
  fs::path p = root / "dying-engine";
  writeScript(p, "cat > /dev/null\nprintf '[{\"a\":1}]'\nkill -KILL $$\n");
  engine = p.string();
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1"})),
            R"({"error":"The engine was stopped by the system"})");

  engine = (root / "no-such-engine").string();
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1"})),
            R"({"error":"Failed to run database engine"})");
}

// Rows printed before a failing statement never reach the error text.
TEST_F(EngineRunnerTest, AnErrorAfterRowsNamesOnlyTheError) {
  json reply = callJson("queryDuckCpp", args({"SELECT 1 AS a; SELECT * FROM nope"}));
  ASSERT_TRUE(reply.contains("error")) << reply;
  const std::string error = reply["error"];
  EXPECT_EQ(error.rfind("Catalog Error", 0), 0u) << error;
  EXPECT_EQ(error.find("\"a\""), std::string::npos) << error;
}

TEST_F(EngineRunnerTest, AStoppedCallStartsNoEngineAndAnswersCancelled) {
  fakeEngine("[{\"x\":1}]");
  EngineStop stop;
  stop.stop();
  StopScope scope(&stop);
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1"})), R"({"cancelled":true})");
  EXPECT_EQ(call("getSchemaCpp", args({"SELECT * FROM read_csv('a.csv')"})),
            R"({"cancelled":true})");
  EXPECT_FALSE(fs::exists(root / "rec-stdin")) << "the engine must not start";
}

TEST_F(EngineRunnerTest, OutputIsCapturedWholeAndKeptValidUtf8) {
  std::string big(100000, 'z');
  fakeEngine("[{\"t\":\"" + big + "\"}]");
  EXPECT_EQ(callJson("queryDuckCpp", args({"x"}))["rows"][0][0], big);

  fakeEngine("bad \xff\xfe bytes\n", 1);
  std::string reply = call("queryDuckCpp", args({"x"}));
  EXPECT_EQ(reply, "{\"error\":\"bad \xEF\xBF\xBD\xEF\xBF\xBD bytes\\n\"}");
  fakeEngine("[{\"a\":\"\xc3\"}]");
  EXPECT_NO_THROW(json::parse(call("queryDuckCpp", args({"x"}))));
}

}  // namespace
}  // namespace plinthos::test
