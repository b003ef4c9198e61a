// The engine program on files: reading, patterns, writing, schemas and the sample data.
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/engine/engine_runner.h"

namespace plinthos::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::ordered_json;

class EngineFiles : public EngineTest {};

// `**` stands for one or more folder levels: files directly in the start folder do not match.

TEST_F(EngineFiles, ReadsFilesAndPatternsRelativeToTheStartFolder) {
  writeFile("top.csv", "id,name\n1,alpha\n2,beta\n");
  writeFile("a/one.csv", "id,name\n4,delta\n");
  writeFile("a/b/deep.csv", "id,name\n3,gamma\n");
  EngineRun r = run(
      "SELECT * FROM read_csv('top.csv') ORDER BY id;\n"
      "SELECT count(*) AS n, max(id) AS top FROM read_csv('**/*.csv');\n"
      "COPY (SELECT * FROM read_csv('**/*.csv') ORDER BY id) TO 'a/all.parquet' (FORMAT PARQUET);\n"
      "COPY (SELECT id, name FROM read_parquet('a/all.parquet') WHERE id > 1 ORDER BY id) "
      "TO 'out.csv' (FORMAT CSV, HEADER);\n"
      "SELECT sum(id) AS s FROM read_parquet('**/*.parquet');\n"
      "SELECT column_name, column_type FROM (DESCRIBE SELECT * FROM read_csv('top.csv'));\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[{\"id\":1,\"name\":\"alpha\"},\n{\"id\":2,\"name\":\"beta\"}]\n"
            "[{\"n\":2,\"top\":4}]\n"
            "[{\"s\":7}]\n"
            "[{\"column_name\":\"id\",\"column_type\":\"BIGINT\"},\n"
            "{\"column_name\":\"name\",\"column_type\":\"VARCHAR\"}]\n");
  std::ifstream csv(data_ / "out.csv");
  std::string all((std::istreambuf_iterator<char>(csv)), {});
  EXPECT_EQ(all, "id,name\n3,gamma\n4,delta\n");

  EngineRun describe = run("DESCRIBE SELECT * FROM read_parquet('a/all.parquet')");
  ASSERT_EQ(describe.status, 0) << describe.err;
  ordered_json d = ordered_json::parse(describe.out);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0]["column_name"], "id");
  EXPECT_EQ(d[1]["column_type"], "VARCHAR");
}

TEST_F(EngineFiles, CsvWithInvalidUtf8StillGivesValidUtf8) {
  writeFile("bad.csv", "a,b\n1,bad \xff\xfe x\n2,ok\n");
  EngineRun strict = run("SELECT * FROM read_csv('bad.csv')");
  EXPECT_EQ(strict.status, 1);
  EXPECT_TRUE(isValidUtf8(strict.err));
  EXPECT_NE(strict.err.find("bad.csv"), std::string::npos);

  EngineRun latin = run("SELECT * FROM read_csv('bad.csv', encoding = 'latin-1') ORDER BY a");
  ASSERT_EQ(latin.status, 0) << latin.err;
  EXPECT_TRUE(isValidUtf8(latin.out));
  EXPECT_EQ(ordered_json::parse(latin.out)[0]["b"], "bad ÿþ x");

  EngineRun skipped = run("SELECT * FROM read_csv('bad.csv', ignore_errors = true)");
  ASSERT_EQ(skipped.status, 0) << skipped.err;
  EXPECT_EQ(skipped.out, "[{\"a\":2,\"b\":\"ok\"}]\n");
}

TEST_F(EngineFiles, SampleDataServesThePageTemplates) {
  fs::path bucket = PLINTHOS_SAMPLE_PATH;
  ASSERT_TRUE(fs::exists(bucket / "2024" / "north east.csv"));
  ASSERT_TRUE(fs::exists(bucket / "2023" / "north east.parquet"));
  std::string sql =
      "SELECT (SELECT count(*) FROM read_csv('**/*.csv')) AS csv_rows, "
      "(SELECT count(*) FROM read_parquet('**/*.parquet')) AS parquet_rows;\n"
      "SELECT product_category, COUNT(*) AS total_sales, "
      "COUNT(*) FILTER (WHERE sale_amount > 100) AS high_value_sales, "
      "ROUND(100.0 * high_value_sales / total_sales, 2) AS high_value_percentage "
      "FROM read_parquet('**/*.parquet') WHERE sale_amount > 0 GROUP BY product_category "
      "ORDER BY product_category;\n"
      "SELECT column_name, column_type FROM (DESCRIBE SELECT * FROM read_csv('2024/north "
      "east.csv'));\n";
  EngineRun r = runProgram(PLINTHOS_ENGINE_PATH, {":memory:", "-json"}, bucket, sql, home_);
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string counts, line;
  std::getline(lines, counts);
  ordered_json c = ordered_json::parse(counts)[0];
  EXPECT_GE(c["csv_rows"].get<int>(), 2000);
  EXPECT_EQ(c["csv_rows"], c["parquet_rows"]);
  EXPECT_NE(r.out.find("\"product_category\":\"Electronics\""), std::string::npos);
  for (const char* column : {"order_id", "sale_date", "region", "product_category", "product",
                             "quantity", "sale_amount"}) {
    EXPECT_NE(r.out.find(std::string("{\"column_name\":\"") + column + "\""), std::string::npos)
        << column;
  }
  EXPECT_NE(r.out.find(R"({"column_name":"sale_date","column_type":"DATE"})"), std::string::npos);
}

TEST_F(EngineFiles, BundleWorksWhenCopiedElsewhere) {
  fs::path copy = root_ / "elsewhere" / "Plinthos.app";
  fs::create_directories(copy.parent_path());
  fs::copy(PLINTHOS_BUNDLE_PATH, copy, fs::copy_options::recursive);
  fs::path engine = copy / "Contents" / "Resources" / "duckdb";
  ASSERT_TRUE(fs::exists(engine));
  ASSERT_TRUE(fs::exists(copy / "Contents" / "Frameworks" / "libduckdb.so"));
  EngineRun r =
      runProgram(engine.string(), {":memory:", "-json"}, data_, "SELECT 42 AS answer", home_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[{\"answer\":42}]\n");
}

}  // namespace
}  // namespace plinthos::test
