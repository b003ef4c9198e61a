// getSchemaCpp: which source is described, and how the answer is read.
#include "services/schema.h"

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using SchemaTest = NativeTest;

TEST_F(SchemaTest, DescribesTheFirstRecognisedSource) {
  const std::string w = data.string();
  fs::create_directories(data / "sales");
  EXPECT_EQ(describeStatement(w,
                              "SELECT region, SUM(x) FROM read_parquet('/d/**/*.parquet') "
                              "GROUP BY region"),
            "DESCRIBE SELECT * FROM read_parquet('/d/**/*.parquet')");
  EXPECT_EQ(describeStatement(w, "SELECT * FROM read_parquet('a.parquet') JOIN read_csv('b.csv')"),
            "DESCRIBE SELECT * FROM read_csv('b.csv')");
  EXPECT_EQ(describeStatement(w, "SELECT * FROM Read_CSV('sales')"),
            "DESCRIBE SELECT * FROM read_csv('sales/**/*.csv', union_by_name = true)");
  EXPECT_EQ(describeStatement(w, "FROM read_parquet('sales')"),
            "DESCRIBE SELECT * FROM read_parquet('sales/**/*.parquet', union_by_name = true)");
  // The pages' folder call, as {path-to-files} becomes it.
  EXPECT_EQ(describeStatement(w, "FROM read_parquet('/d/**/*.parquet', union_by_name = true) t"),
            "DESCRIBE SELECT * FROM read_parquet('/d/**/*.parquet', union_by_name = true)");
  EXPECT_FALSE(describeStatement(w, "SELECT * FROM read_csv('x.csv', header = true)"));
}

TEST_F(SchemaTest, AnswersTheColumnsOrAnError) {
  fakeEngine(R"([{"column_name":"b","column_type":"VARCHAR","null":"YES"},)"
             R"({"column_name":"","column_type":"X"},{"column_type":"Y"},)"
             R"({"column_name":"a","column_type":"DATE"}])");
  EXPECT_EQ(call("getSchemaCpp", args({"SELECT * FROM read_csv('s.csv')"})),
            R"({"columns":[{"name":"b","type":"VARCHAR"},{"name":"a","type":"DATE"}]})");
  EXPECT_EQ(receivedSql(), "DESCRIBE SELECT * FROM read_csv('s.csv')");
  EXPECT_EQ(receivedArgs(), ":memory:\n-json\n");
  EXPECT_EQ(call("getSchemaCpp", args({"SELECT 1"})),
            R"({"error":"No data source found in query"})");
  fakeEngine("{}");
  EXPECT_EQ(call("getSchemaCpp", args({"FROM read_csv('s.csv')"})), R"({"columns":[]})");
  fakeEngine("[1]");
  EXPECT_EQ(call("getSchemaCpp", args({"FROM read_csv('s.csv')"})), R"({"error":"[1]"})");
  fakeEngine("", 1);
  EXPECT_EQ(call("getSchemaCpp", args({"FROM read_csv('s.csv')"})),
            R"({"error":"Schema query failed"})");
  fakeEngine("IO Error: no file\n", 1);
  EXPECT_EQ(call("getSchemaCpp", args({"FROM read_csv('s.csv')"})),
            R"({"error":"IO Error: no file\n"})");
  EXPECT_EQ(call("getSchemaCpp", "[{}]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
}

TEST_F(SchemaTest, RealEngineDescribesAFolderOfCsvFiles) {
  writeFile(data / "sales" / "a.csv", "region,amount,day\nN,1,2024-01-02\n");
  setBucket(data);
  json reply = callJson("getSchemaCpp", args({"SELECT region FROM read_csv('sales') LIMIT 1"}));
  ASSERT_TRUE(reply.contains("columns")) << reply.dump();
  ASSERT_EQ(reply["columns"].size(), 3u);
  EXPECT_EQ(reply["columns"][0], (json{{"name", "region"}, {"type", "VARCHAR"}}));
  EXPECT_EQ(reply["columns"][2], (json{{"name", "day"}, {"type", "DATE"}}));
  json missing = callJson("getSchemaCpp", args({"FROM read_csv('none.csv')"}));
  EXPECT_NE(missing["error"].get<std::string>().find("none.csv"), std::string::npos);
}

}  // namespace
}  // namespace plinthos::test
