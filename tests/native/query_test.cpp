// queryDuckCpp: the statement the engine gets, where it runs, and how its output becomes a
// query result; then the same contract against the real engine program.
#include "services/query.h"

#include "services/sources.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using QueryTest = NativeTest;

std::string result(const std::string& output) {
  return queryResultFromOutput(output).value_or("<not a result>");
}

TEST_F(QueryTest, OutputBecomesColumnsNumericColsAndTextRows) {
  EXPECT_EQ(result(R"([{"name":"a","n":3,"d":null},{"name":"b","n":4.5}])"),
            R"({"columns":["name","n","d"],"numericCols":[false,true,false],)"
            R"("rows":[["a","3",""],["b","4.5",""]],"nulls":[[0,2],[1,2]]})");
  EXPECT_EQ(result(R"([{"v":null},{"v":1}])"),
            R"({"columns":["v"],"numericCols":[false],"rows":[[""],["1"]],"nulls":[[0,0]]})");
  // An empty text is no NULL: only the NULL cells are listed, whichever parser reads the row.
  EXPECT_EQ(
      result("[{\"s\":\"\",\"t\":\"x\"},\n{\"s\":null,\"t\":\"\"},\n{\"s\":\"\",\"t\":null}]\n"),
      R"({"columns":["s","t"],"numericCols":[false,false],)"
      R"("rows":[["","x"],["",""],["",""]],"nulls":[[1,0],[2,1]]})");
  EXPECT_EQ(result(R"([{"s":{"b":1,"a":"é"},"w":3.0,"t":true,"l":[1,"x",null],"u":"ü"}])"),
            R"({"columns":["s","w","t","l","u"],"numericCols":[false,true,false,false,false],)"
            R"("rows":[["{\"a\":\"é\",\"b\":1}","3.0","true","[1,\"x\",null]","ü"]]})");
  EXPECT_EQ(result(R"([{"a":1,"b":2,"a":3}])"),
            R"({"columns":["a","b"],"numericCols":[true,true],"rows":[["3","2"]]})");
  EXPECT_EQ(result(R"([{"big":18446744073709551615,"neg":-9223372036854775808,"f":1e-7}])"),
            R"({"columns":["big","neg","f"],"numericCols":[true,true,true],)"
            R"("rows":[["18446744073709551615","-9223372036854775808","1e-07"]]})");
  const std::string empty = R"({"columns":[],"numericCols":[],"rows":[]})";
  EXPECT_EQ(result("[]"), empty);
  EXPECT_EQ(result(R"({"x":1})"), empty);
  EXPECT_EQ(result("42"), empty);
  EXPECT_FALSE(queryResultFromOutput("[1][2]"));
  EXPECT_FALSE(queryResultFromOutput(""));
  EXPECT_FALSE(queryResultFromOutput("[1]"));
  EXPECT_FALSE(queryResultFromOutput(R"([{"a":1},2])"));
}

// The engine's column line decides the columns and which are numeric, rows or none.
TEST_F(QueryTest, ColumnLineGivesColumnsAndKindsWhateverTheRows) {
  const std::string line = R"({"columns":[{"name":"k","type":"VARCHAR","numeric":false},)"
                           R"({"name":"v","type":"INTEGER","numeric":true}]})"
                           "\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {line, R"({"columns":["k","v"],"numericCols":[false,true],"rows":[]})"},
      {line + R"([{"k":"x","v":null},)"
              "\n"
              R"({"k":"y","v":3}])"
              "\n",
       R"({"columns":["k","v"],"numericCols":[false,true],"rows":[["x",""],["y","3"]],)"
       R"("nulls":[[0,1]]})"},
      {line + R"([{"k":"1","v":2}])",
       R"({"columns":["k","v"],"numericCols":[false,true],"rows":[["1","2"]]})"},
      {R"({"columns":[]})"
       "\n",
       R"({"columns":[],"numericCols":[],"rows":[]})"},
      // Not a column line: read as before.
      {R"({"x":1})", R"({"columns":[],"numericCols":[],"rows":[]})"},
  };
  for (const auto& [output, expected] : cases) EXPECT_EQ(result(output), expected) << output;
  EXPECT_FALSE(queryResultFromOutput(line + "[1]"));
}

TEST_F(QueryTest, UnusableOutputIsAnsweredWithTheRawText) {
  fakeEngine("[{\"a\":1}]\n[{\"b\":2}]\n");
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1; SELECT 2"})),
            R"({"error":"[{\"a\":1}]\n[{\"b\":2}]\n"})");
  fakeEngine("");
  EXPECT_EQ(call("queryDuckCpp", args({"CREATE TABLE t(a INT)"})), R"({"error":""})");
}

TEST_F(QueryTest, StatementIsExpandedAndRunInTheDataFolder) {
  fs::create_directories(data / "2024");
  setBucket(data);
  fakeEngine("[]");
  call("queryDuckCpp", args({"SELECT * FROM read_csv('2024') JOIN READ_PARQUET('x')"}));
  EXPECT_EQ(receivedSql(),
            "SELECT * FROM read_csv('2024/**/*.csv', union_by_name = true) JOIN read_parquet('x')");
  EXPECT_EQ(receivedFolder(), data.string());

  writeConfig("{}");
  call("queryDuckCpp", args({"SELECT 1", "ignored"}));
  EXPECT_EQ(receivedFolder(), appFolder.string());

  writeFile(data / "plain.txt", "x");
  setBucket(data / "plain.txt");  // cd fails before the engine starts
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1"})), R"({"error":"Query failed"})");
}

TEST_F(QueryTest, CallsOutsideTheContract) {
  fakeEngine("[]");
  EXPECT_EQ(call("queryDuckCpp", "SELECT 1"),
            R"({"error":"Invalid arguments: expected a JSON array"})");
  EXPECT_EQ(call("queryDuckCpp", "[]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
  EXPECT_EQ(call("queryDuckCpp", "[42]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
  EXPECT_FALSE(fs::exists(root / "rec-stdin"));
}

// The real engine program on data this test writes.
TEST_F(QueryTest, RealEngineAnswersQueriesOverAFolder) {
  writeFile(data / "2024" / "a.csv", "product_category,sale_amount,note\nA,10,x\nB,4.5,\n");
  writeFile(data / "2024" / "q1" / "b.csv", "product_category,sale_amount,note\nA,2,ü\n");
  setBucket(data);
  EXPECT_EQ(call("queryDuckCpp",
                 args({"SELECT product_category, SUM(sale_amount) AS total, COUNT(*) AS n "
                       "FROM read_csv('2024') GROUP BY 1 ORDER BY 1"})),
            R"({"columns":["product_category","total","n"],"numericCols":[false,true,true],)"
            R"("rows":[["A","12.0","2"],["B","4.5","1"]]})");
  EXPECT_EQ(call("queryDuckCpp",
                 args({"SELECT note FROM read_csv('2024/q1/b.csv') UNION ALL SELECT NULL"})),
            R"({"columns":["note"],"numericCols":[false],"rows":[["ü"],[""]],"nulls":[[1,0]]})");
  // An answer without rows still has its columns; kinds come from the types, not a first value.
  EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1 AS a WHERE false"})),
            R"({"columns":["a"],"numericCols":[true],"rows":[]})");
  EXPECT_EQ(call("queryDuckCpp",
                 args({"SELECT 'x' AS k, NULL::INTEGER AS v UNION ALL SELECT 'y', 3 ORDER BY k"})),
            R"({"columns":["k","v"],"numericCols":[false,true],"rows":[["x",""],["y","3"]],)"
            R"("nulls":[[0,1]]})");
  // A last statement without an answer keeps the empty error text.
  EXPECT_EQ(call("queryDuckCpp", args({"CREATE TABLE t (a INTEGER)"})), R"({"error":""})");

  json missing = callJson("queryDuckCpp", args({"SELECT * FROM read_csv('nope.csv')"}));
  ASSERT_TRUE(missing.contains("error"));
  EXPECT_NE(missing["error"].get<std::string>().find("nope.csv"), std::string::npos);
  json syntax = callJson("queryDuckCpp", args({"SELEC 1"}));
  EXPECT_FALSE(syntax["error"].get<std::string>().empty());
}

// Files of one folder that differ in their columns answer every column, for both kinds, both
// through a folder argument and through the call the pages write.
TEST_F(QueryTest, RealEngineReadsMixedFoldersByColumnName) {
  writeFile(data / "w" / "seattle.csv", "date,temp\n2024-01-01,5\n");
  writeFile(data / "w" / "x" / "weather.csv", "date,temp,location\n2024-01-02,7,Oslo\n");
  fs::create_directories(data / "p");
  setBucket(data);
  for (const char* kind : {"csv", "parquet"}) {
    SCOPED_TRACE(kind);
    if (std::string(kind) == "parquet") {
      call("queryDuckCpp", args({"COPY (FROM read_csv('w/seattle.csv')) TO 'p/a.parquet'; "
                                 "COPY (FROM read_csv('w/x/weather.csv')) TO 'p/b.parquet'"}));
    }
    std::string folder = std::string(kind) == "csv" ? "w" : "p";
    std::string fn = std::string("read_") + kind;
    const std::string want =
        R"({"columns":["date","temp","location"],"numericCols":[false,true,false],)"
        R"("rows":[["2024-01-01","5",""],["2024-01-02","7","Oslo"]],"nulls":[[0,2]]})";
    EXPECT_EQ(call("queryDuckCpp", args({"SELECT * FROM " + fn + "('" + folder + "') ORDER BY 1"})),
              want);
    EXPECT_EQ(call("queryDuckCpp",
                   args({"SELECT * FROM " + folderFilesCall(fn, (data / folder).string(), kind) +
                         " ORDER BY 1"})),
              want);
  }
}

}  // namespace
}  // namespace plinthos::test
