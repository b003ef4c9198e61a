// How the engine is started: temp script, shell command, output capture, exit status.
#include "services/engine_runner.h"

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using EngineRunnerTest = NativeTest;

TEST_F(EngineRunnerTest, CommandQuotesEveryValueForTheShell) {
  EXPECT_EQ(engineCommand("/w", "/e", "/s.sql", OutputMode::Json),
            "cd '/w' && '/e' :memory: -json < '/s.sql' 2>&1");
  EXPECT_EQ(engineCommand("/it's", "/e", "/s", OutputMode::Default),
            "cd '/it'\\''s' && '/e' :memory: < '/s' 2>&1");
  EXPECT_EQ(tempScriptPath("/tmp/duckquery_"), tempScriptFor("/tmp/duckquery_"));
}

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
  EXPECT_EQ(receivedArgs(), ":memory:\n-json\n");
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
  EXPECT_FALSE(fs::exists(fs::symlink_status(script)));

  // The script, which holds the user's SQL, is readable by its owner only.
  fs::path p = root / "mode-engine";
  writeScript(p, "cat > /dev/null\nstat -c %a " + sq(script) + "\nexit 1\n");
  engine = p.string();
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 3"})), R"({"error":"600\n"})");
}

TEST_F(EngineRunnerTest, AnEntryThatCannotBeReplacedMeansNoTempScript) {
  struct Cleanup {
    std::string dir;
    ~Cleanup() { fs::remove(dir); }
  };
  for (const char* prefix : {"/tmp/duckquery_", "/tmp/duckschema_", "/tmp/duckconv_"}) {
    Cleanup planted{tempScriptFor(prefix)};
    fs::create_directory(planted.dir);
    fakeEngine("[]");
    std::string reply = std::string(prefix) == "/tmp/duckquery_"
                            ? call("queryDuckCpp", args({"SELECT 1"}))
                        : std::string(prefix) == "/tmp/duckschema_"
                            ? call("getSchemaCpp", args({"SELECT * FROM read_csv('a.csv')"}))
                            : call("csv2parquetCpp", args({"a.csv"}));
    EXPECT_EQ(reply, R"({"error":"Failed to create temp file"})") << prefix;
    EXPECT_FALSE(fs::exists(root / "rec-stdin")) << "the engine must not start";
  }
  {
    Cleanup planted{tempScriptFor("/tmp/duckexport_")};
    fs::create_directory(planted.dir);
    dialogs.answers = {(root / "out.csv").string()};
    EXPECT_EQ(call("exportToCsvCpp", args({"SELECT 1"})),
              R"({"error":"Failed to create temp file"})");
  }
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
  json killed = callJson("queryDuckCpp", args({"SELECT 1"}));
  ASSERT_TRUE(killed.contains("error"));  // the shell may add its own "Killed" note
  EXPECT_EQ(killed["error"].get<std::string>().rfind("[{\"a\":1}]", 0), 0u);
  writeScript(p, "cat > /dev/null\nkill -KILL $$\n");
  killed = callJson("queryDuckCpp", args({"SELECT 1"}));
  ASSERT_EQ(killed.size(), 1u);
  EXPECT_TRUE(killed["error"].is_string());

  engine = (root / "no-such-engine").string();
  json reply = callJson("queryDuckCpp", args({"SELECT 1"}));
  EXPECT_NE(reply["error"].get<std::string>().find("not found"), std::string::npos);
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
