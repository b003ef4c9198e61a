// exportToCsvCpp and saveCsvCpp.
#include "services/export.h"

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using ExportTest = NativeTest;

TEST_F(ExportTest, StatementWrapsTheQueryOnItsOwnLines) {
  EXPECT_EQ(exportStatement("SELECT 1 -- all", "/o/it's.csv"),
            "COPY (\nSELECT 1 -- all\n) TO '/o/it''s.csv' (FORMAT CSV, HEADER)");
}

TEST_F(ExportTest, CancelRunsNothingAndReadsNoConfiguration) {
  fakeEngine("");
  EXPECT_EQ(call("exportToCsvCpp", args({"SELECT 1"})), R"({"cancelled":true})");
  EXPECT_FALSE(fs::exists(root / "rec-stdin"));
  EXPECT_FALSE(fs::exists(configFile().parent_path()));
  EXPECT_EQ(call("exportToCsvCpp", "[]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
  EXPECT_EQ(dialogs.asked, 1);  // no dialog for a call without its query
}

TEST_F(ExportTest, ExportRunsTheExpandedQueryInDefaultMode) {
  fs::create_directories(data / "data");
  setBucket(data);
  fakeEngine("printed\n");
  std::string dest = (root / "out's.csv").string();
  dialogs.answers = {dest};
  EXPECT_EQ(call("exportToCsvCpp", args({"SELECT * FROM read_csv('data') -- all"})),
            (json{{"ok", dest}}.dump()));
  EXPECT_EQ(receivedSql(),
            "COPY (\nSELECT * FROM read_csv('data/**/*.csv', union_by_name = true) "
            "-- all\n) TO '" +
                root.string() + "/out''s.csv' (FORMAT CSV, HEADER)");
  EXPECT_EQ(receivedArgs(), ":memory:\n");
  EXPECT_EQ(receivedFolder(), data.string());
  fakeEngine("", 1);
  dialogs.answers = {dest};
  EXPECT_EQ(call("exportToCsvCpp", args({"x"})), R"({"error":"Export failed"})");
}

TEST_F(ExportTest, RealEngineWritesTheWholeAnswer) {
  writeFile(data / "t.csv", "a,b\n1,x\n2,y\n");
  setBucket(data);
  std::string dest = (root / "O'Brien result.csv").string();
  dialogs.answers = {dest};
  EXPECT_EQ(call("exportToCsvCpp", args({"SELECT * FROM read_csv('t.csv') ORDER BY a"})),
            (json{{"ok", dest}}.dump()));
  EXPECT_EQ(readFile(dest), "a,b\n1,x\n2,y\n");
  dialogs.answers = {dest};
  json bad = callJson("exportToCsvCpp", args({"SELECT 1;"}));
  EXPECT_FALSE(bad["error"].get<std::string>().empty());
  // A script's last statement, with the statements before it run first in the same run.
  dialogs.answers = {dest};
  EXPECT_EQ(call("exportToCsvCpp", args({"SELECT * FROM t2 ORDER BY a",
                                         "CREATE TEMP TABLE t2 AS FROM read_csv('t.csv');\n"})),
            (json{{"ok", dest}}.dump()));
  EXPECT_EQ(readFile(dest), "a,b\n1,x\n2,y\n");
}

TEST_F(ExportTest, SaveWritesTheTextExactly) {
  fs::path dest = root / "saved.csv";
  writeFile(dest, "old content that is longer");
  dialogs.answers = {dest.string(), dest.string(), std::nullopt};
  const std::string ok = json{{"ok", dest.string()}}.dump();
  EXPECT_EQ(call("saveCsvCpp", args({"\"a\"\r\n\"ü\"\r\n"})), ok);
  EXPECT_EQ(readFile(dest), "\"a\"\r\n\"ü\"\r\n");
  EXPECT_EQ(call("saveCsvCpp", args({""})), ok);
  EXPECT_EQ(readFile(dest), "");
  EXPECT_EQ(call("saveCsvCpp", args({"x"})), R"({"cancelled":true})");
  EXPECT_EQ(call("saveCsvCpp", "[1]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
  EXPECT_EQ(dialogs.asked, 3);  // no dialog for a call without its text
}

// A failed save says why, with the path it tried; nothing is made at a path it could not use.
TEST_F(ExportTest, SaveNamesTheCauseOfAFailure) {
  for (const auto& [destination, reason] : std::vector<std::pair<std::string, std::string>>{
           {(root / "no/such/dir.csv").string(), "No such file or directory"},
           {root.string(), "Is a directory"},
           {"/dev/full", "No space left on device"},
           {(root / "nul").string() + std::string(1, '\0') + "x.csv", "Invalid argument"}}) {
    dialogs.answers = {destination};
    EXPECT_EQ(callJson("saveCsvCpp", args({"a"})),
              (json{{"error", "Could not write the CSV file " + destination + ": " + reason}}));
  }
  EXPECT_FALSE(fs::exists(root / "nul"));
}

}  // namespace
}  // namespace plinthos::test
