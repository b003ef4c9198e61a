// csv2parquetCpp.
#include "services/conversion.h"

#include <set>
#include <thread>

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using ConversionTest = NativeTest;

TEST_F(ConversionTest, OutputPathAndStatement) {
  EXPECT_EQ(parquetPathFor("sales.csv"), "sales.parquet");
  EXPECT_EQ(parquetPathFor("2024/q1/orders.v2.csv"), "2024/q1/orders.v2.parquet");
  EXPECT_EQ(parquetPathFor("/abs/path/data.csv"), "/abs/path/data.parquet");
  EXPECT_EQ(parquetPathFor("data.txt"), "data.parquet");
  EXPECT_EQ(conversionStatement("sales.csv", "sales.parquet"),
            "COPY (SELECT * FROM read_csv('sales.csv')) TO 'sales.parquet' (FORMAT PARQUET)");
  EXPECT_EQ(conversionStatement("O'Brien.csv", "O'Brien.parquet"),
            "COPY (SELECT * FROM read_csv('O''Brien.csv')) TO 'O''Brien.parquet' "
            "(FORMAT PARQUET)");
}

TEST_F(ConversionTest, RepliesAndTheDefaultOutputMode) {
  setBucket(data);
  fakeEngine("whatever it prints");
  EXPECT_EQ(call("csv2parquetCpp", args({"2024/sales.csv"})), R"({"ok":"2024/sales.parquet"})");
  EXPECT_EQ(receivedArgs(), ":memory:\n");
  EXPECT_EQ(receivedFolder(), data.string());
  EXPECT_EQ(receivedSql(),
            "COPY (SELECT * FROM read_csv('2024/sales.csv')) TO '2024/sales.parquet' "
            "(FORMAT PARQUET)");
  fakeEngine("", 1);
  EXPECT_EQ(call("csv2parquetCpp", args({"a.csv"})), R"({"error":"Conversion failed"})");
  fakeEngine("Error: bad\n", 2);
  EXPECT_EQ(call("csv2parquetCpp", args({"a.csv"})), R"({"error":"Error: bad\n"})");
  EXPECT_EQ(call("csv2parquetCpp", "[]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
}

TEST_F(ConversionTest, RealEngineConvertsNamesWithQuotes) {
  writeFile(data / "2024" / "O'Brien.csv", "a,b\n1,x\n2,y\n");
  setBucket(data);
  EXPECT_EQ(call("csv2parquetCpp", args({"2024/O'Brien.csv"})), R"({"ok":"2024/O'Brien.parquet"})");
  ASSERT_TRUE(fs::exists(data / "2024" / "O'Brien.parquet"));
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT COUNT(*) AS n FROM read_parquet('2024')"})),
            R"({"columns":["n"],"numericCols":[true],"rows":[["2"]]})");
  json missing = callJson("csv2parquetCpp", args({"missing.csv"}));
  EXPECT_NE(missing["error"].get<std::string>().find("missing.csv"), std::string::npos);
}

// An existing Parquet file is never replaced unasked: the copy goes beside it and says so.
TEST_F(ConversionTest, AnExistingParquetFileIsKeptUnlessReplacingIsAsked) {
  writeFile(data / "keep.csv", "a\n1\n");
  writeFile(data / "keep.parquet", "precious");
  setBucket(data);
  struct Case {
    std::string arguments;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {args({"keep.csv"}), R"({"existing":"keep.parquet","ok":"keep (2).parquet"})"},
      {args({"keep.csv"}), R"({"existing":"keep.parquet","ok":"keep (3).parquet"})"},
      {R"(["keep.csv", null])", R"({"existing":"keep.parquet","ok":"keep (4).parquet"})"},
      {args({"keep.csv", "replace"}), R"({"ok":"keep.parquet"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(call("csv2parquetCpp", c.arguments), c.reply);
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT * FROM read_parquet('keep (2).parquet')"})),
            R"({"columns":["a"],"numericCols":[true],"rows":[["1"]]})");
  EXPECT_NE(readFile(data / "keep.parquet"), "precious");  // replaced only when asked
}

// Conversions may be asked for side by side; each still gets a name of its own.
TEST_F(ConversionTest, ConversionsSideBySideNeverShareAFile) {
  constexpr int kConversions = 3;
  writeFile(data / "same.csv", "a\n1\n");
  writeFile(data / "same.parquet", "precious");
  setBucket(data);
  std::vector<std::string> replies(kConversions);
  std::vector<std::thread> threads;
  for (int i = 0; i < kConversions; ++i) {
    threads.emplace_back([&, i] { replies[i] = call("csv2parquetCpp", args({"same.csv"})); });
  }
  for (auto& t : threads) t.join();
  std::set<std::string> written;
  for (const auto& reply : replies) written.insert(json::parse(reply).value("ok", reply));
  EXPECT_EQ(written,
            (std::set<std::string>{"same (2).parquet", "same (3).parquet", "same (4).parquet"}));
  for (const auto& file : written) {
    EXPECT_EQ(call("queryDuckCpp", args({"SELECT a FROM read_parquet('" + file + "')"})),
              R"({"columns":["a"],"numericCols":[true],"rows":[["1"]]})");
  }
  EXPECT_EQ(readFile(data / "same.parquet"), "precious");
}

TEST_F(ConversionTest, RealEngineConvertsListedFilesWithoutADataFolder) {
  // Nothing configured: the listing shows the bucket beside the bundle, so its relative paths
  // must convert there too.
  writeFile(appFolder / "bucket" / "s.csv", "a\n1\n");
  json tree = callJson("listBucketCpp");
  std::string listed = tree["children"][0]["path"];
  EXPECT_EQ(call("csv2parquetCpp", args({listed})), R"({"ok":"s.parquet"})");
  EXPECT_TRUE(fs::exists(appFolder / "bucket" / "s.parquet"));
  EXPECT_FALSE(fs::exists(appFolder / "s.parquet"));
}

}  // namespace
}  // namespace plinthos::test
