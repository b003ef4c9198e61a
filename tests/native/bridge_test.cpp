// The bridge table: names in registration order, getPage, the page's timing function, and every
// function's answer to calls outside the contract.
#include <map>

#include "pages/pages.h"
#include "tests/native/reply_shapes.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using BridgeTest = NativeTest;

TEST_F(BridgeTest, EveryFunctionInRegistrationOrder) {
  std::vector<std::string> names, expected;
  for (const auto& b : bridgeTable(BridgeEnv{exePath, engine, &dialogs})) names.push_back(b.name);
  for (const auto& entry : kReplyShapes) expected.push_back(entry.first);
  EXPECT_EQ(names, expected);
}

TEST_F(BridgeTest, GetPageServesTheEmbeddedPagesByExactId) {
  EXPECT_EQ(callJson("getPage", args({"bucket"})), std::string(BUCKET_PAGE));
  EXPECT_EQ(callJson("getPage", args({"coming", "bucket"})), std::string(DASHBOARDS_PAGE));
  EXPECT_EQ(call("getPage", args({"bucket"})), json(std::string(BUCKET_PAGE)).dump());
  for (const std::string other : {"Bucket", "Query", "Dashboards", "", "shell"}) {
    EXPECT_EQ(call("getPage", args({other})), "\"\"") << other;
  }
  for (const std::string bad : {"", "bucket", "{}", "[]", "[1]", "[null]"}) {
    EXPECT_EQ(call("getPage", bad), "\"\"") << bad;
  }
}

TEST_F(BridgeTest, EveryFunctionAnswersValidJsonOfItsShapeWhateverItGets) {
  setBucket(data);
  engine = "/bin/false";
  const std::vector<std::string> inputs = {"",
                                           "not json",
                                           "{}",
                                           "[",
                                           "[] []",
                                           "[null]",
                                           "[1, 2]",
                                           "[[]]",
                                           "[{}, \"x\"]",
                                           "\"x\"",
                                           "[\"\\u0000\"]",
                                           "[\"\xff\xfe\"]",
                                           "[\"a\",",
                                           "[true]",
                                           "[\"a\",1]",
                                           "[\"a\",\"[\",{}]"};
  for (const auto& binding : bridgeTable(BridgeEnv{exePath, engine, &dialogs})) {
    for (const auto& input : inputs) {
      std::string reply = binding.call(CallArgs(input));
      EXPECT_TRUE(hasShapeOf(binding.name, json::parse(reply, nullptr, false)))
          << binding.name << " on " << input << ": " << reply;
    }
  }
}

// Bound only when timing is on; it answers null whatever it gets.
TEST_F(BridgeTest, PageTimingNamesTheThreeFiguresAndIgnoresAnythingElse) {
  EXPECT_EQ(bridgeTable(BridgeEnv{exePath, engine, &dialogs}).size(), kReplyShapes.size());
  std::string written;
  BridgeEnv env{exePath, engine, &dialogs, [&](const std::string& line) { written += line; }};
  const auto table = bridgeTable(env);
  ASSERT_EQ(table.back().name, kPageTimingFunctionName);
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
      {"[]", ""},
      {"not json", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    written.clear();
    EXPECT_EQ(table.back().call(CallArgs(c.args)), "null") << c.args;
    EXPECT_EQ(written, c.line) << c.args;
  }
}

// Queries and schema runs can be stopped by the tag after their SQL, held runs by the one after
// their place; nothing else can.
TEST_F(BridgeTest, OnlyEngineRunsOfTheEditorAndPagesCarryAStopTag) {
  for (const auto& binding : bridgeTable(BridgeEnv{exePath, engine, &dialogs})) {
    const bool stoppable = binding.name == "queryDuckCpp" || binding.name == "getSchemaCpp";
    EXPECT_EQ(stopTagOf(binding, CallArgs(R"(["SELECT 1","tag-7"])")), stoppable ? "tag-7" : "")
        << binding.name;
    EXPECT_EQ(stopTagOf(binding, CallArgs(R"(["SELECT 1"])")), "") << binding.name;
    EXPECT_EQ(stopTagOf(binding, CallArgs(R"(["SELECT 1",7])")), "") << binding.name;
    // A held run names its place before its tag.
    EXPECT_EQ(stopTagOf(binding, CallArgs(R"(["SELECT 1","query","tag-8"])")),
              binding.name == "holdQueryCpp" ? "tag-8" : (stoppable ? "query" : ""))
        << binding.name;
  }
}

// Engine runs go side by side, dialogs one at a time, and everything else in the store lane, so
// nothing quick ever waits behind an engine run or an open dialog.
TEST_F(BridgeTest, EachFunctionRunsInTheLaneOfWhatItWaitsFor) {
  const std::map<std::string, Lane> marked = {
      {"chooseFolderCpp", Lane::Dialog}, {"csv2parquetCpp", Lane::Engine},
      {"queryDuckCpp", Lane::Engine},    {"getSchemaCpp", Lane::Engine},
      {"saveCsvCpp", Lane::Dialog},      {"exportToCsvCpp", Lane::Dialog},
      {"holdQueryCpp", Lane::Engine},    {"saveAnswerCsvCpp", Lane::Dialog},
  };
  BridgeEnv env{exePath, engine, &dialogs};
  env.pageTiming = [](const std::string&) {};
  for (const auto& binding : bridgeTable(env)) {
    auto it = marked.find(binding.name);
    EXPECT_EQ(binding.lane, it == marked.end() ? Lane::Store : it->second) << binding.name;
  }
}

}  // namespace
}  // namespace plinthos::test
