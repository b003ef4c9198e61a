// How the engine is started: temp script, program and arguments, output capture, exit status.
#include "services/engine_runner.h"

#include <future>

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

  // Complete-looking output, then the engine dies: not a result.
  fs::path p = root / "dying-engine";
  writeScript(p, "cat > /dev/null\nprintf '[{\"a\":1}]'\nkill -KILL $$\n");
  engine = p.string();
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1"})), R"({"error":"Query failed"})");

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
