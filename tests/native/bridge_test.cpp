// The bridge table: names in registration order, getPage, and every function's answer to
// calls outside the contract.
#include "pages/pages.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using BridgeTest = NativeTest;

TEST_F(BridgeTest, AllSixteenInRegistrationOrder) {
  std::vector<std::string> names;
  for (const auto& b : bridgeTable(BridgeEnv{exePath, engine, &dialogs})) names.push_back(b.name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "getPage", "getBucketPathCpp", "setBucketPathCpp", "chooseFolderCpp",
                       "listBucketCpp", "csv2parquetCpp", "queryDuckCpp", "getSavedQueriesCpp",
                       "saveQueryCpp", "deleteQueryCpp", "getDashboardsCpp", "saveDashboardCpp",
                       "deleteDashboardCpp", "getSchemaCpp", "saveCsvCpp", "exportToCsvCpp"}));
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
      std::string reply = binding.call(input);
      json parsed = json::parse(reply, nullptr, false);
      ASSERT_FALSE(parsed.is_discarded()) << binding.name << " on " << input << ": " << reply;
      const std::string& n = binding.name;
      if (n == "getPage" || n == "getBucketPathCpp" || n == "chooseFolderCpp" ||
          n == "saveCsvCpp") {
        EXPECT_TRUE(parsed.is_string()) << n << " on " << input;
      } else if (n == "getSavedQueriesCpp" || n == "getDashboardsCpp") {
        EXPECT_TRUE(parsed.is_array()) << n << " on " << input;
      } else if (n == "setBucketPathCpp" || n == "saveQueryCpp" || n == "deleteQueryCpp") {
        if (!parsed.is_string()) {
          ASSERT_TRUE(parsed.is_object()) << n << " on " << input;
          EXPECT_TRUE(parsed["error"].is_string());
        } else {
          EXPECT_EQ(parsed, "ok");
        }
      } else {
        ASSERT_TRUE(parsed.is_object()) << n << " on " << input;
        if (parsed.contains("error")) {
          EXPECT_TRUE(parsed["error"].is_string());
        }
      }
    }
  }
}

// Queries and schema runs can be stopped by the tag after their SQL; nothing else can.
TEST_F(BridgeTest, OnlyEngineRunsOfTheEditorAndPagesCarryAStopTag) {
  for (const auto& binding : bridgeTable(BridgeEnv{exePath, engine, &dialogs})) {
    const bool stoppable = binding.name == "queryDuckCpp" || binding.name == "getSchemaCpp";
    EXPECT_EQ(stopTagOf(binding, R"(["SELECT 1","tag-7"])"), stoppable ? "tag-7" : "")
        << binding.name;
    EXPECT_EQ(stopTagOf(binding, R"(["SELECT 1"])"), "") << binding.name;
    EXPECT_EQ(stopTagOf(binding, R"(["SELECT 1",7])"), "") << binding.name;
  }
}

}  // namespace
}  // namespace plinthos::test
