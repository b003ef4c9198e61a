// The engine program's JSON and table output, run as a child process.
#include <nlohmann/json.hpp>

#include "tests/engine/engine_runner.h"

namespace plinthos::test {
namespace {

using nlohmann::ordered_json;

class EngineProgram : public EngineTest {
 protected:
  // Runs one query and returns its single parsed array.
  ordered_json query(const std::string& sql) {
    EngineRun r = run(sql);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isValidUtf8(r.out));
    return ordered_json::parse(r.out);
  }
};

TEST_F(EngineProgram, IntegersOfEveryWidthAreExactNumbers) {
  EngineRun r =
      run("SELECT (-128)::TINYINT a, 32767::SMALLINT b, (-2147483648)::INTEGER c, "
          "(-9223372036854775808)::BIGINT d, 255::UTINYINT e, 65535::USMALLINT f, "
          "4294967295::UINTEGER g, 18446744073709551615::UBIGINT h, "
          "(-170141183460469231731687303715884105728)::HUGEINT i, "
          "340282366920938463463374607431768211455::UHUGEINT j, 0::HUGEINT k");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[{\"a\":-128,\"b\":32767,\"c\":-2147483648,\"d\":-9223372036854775808,\"e\":255,"
            "\"f\":65535,\"g\":4294967295,\"h\":18446744073709551615,"
            "\"i\":-170141183460469231731687303715884105728,"
            "\"j\":340282366920938463463374607431768211455,\"k\":0}]\n");
  EXPECT_TRUE(ordered_json::accept(r.out));
}

TEST_F(EngineProgram, DecimalsAndFloatingPoint) {
  EngineRun r =
      run("SELECT 123.45::DECIMAL(10,2) a, (-0.05)::DECIMAL(4,2) b, "
          "(-123456789012345678901234567.89)::DECIMAL(38,2) c, 0.1::DOUBLE d, 2::DOUBLE e, "
          "0.1::FLOAT f, 1e20::DOUBLE g, 'nan'::DOUBLE h, 'inf'::DOUBLE i, '-inf'::FLOAT j, "
          "-0.0::DOUBLE k");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[{\"a\":123.45,\"b\":-0.05,\"c\":-123456789012345678901234567.89,\"d\":0.1,"
            "\"e\":2.0,\"f\":0.1,\"g\":1e+20,\"h\":\"nan\",\"i\":\"inf\",\"j\":\"-inf\","
            "\"k\":-0.0}]\n");
  ordered_json v = ordered_json::parse(r.out)[0];
  EXPECT_DOUBLE_EQ(v["d"].get<double>(), 0.1);
  EXPECT_TRUE(v["e"].is_number_float());
}

TEST_F(EngineProgram, BooleansAndTextWithEscapes) {
  ordered_json v = query(
      "SELECT true t, false f, 'say \"hi\"' q, 'back\\slash' b, chr(1) || chr(9) || chr(10) || "
      "chr(13) || chr(0) c, 'grüße ✓ 😀' u, 'it''s' s, '' e")[0];
  EXPECT_EQ(v["t"], true);
  EXPECT_EQ(v["f"], false);
  EXPECT_EQ(v["q"], "say \"hi\"");
  EXPECT_EQ(v["b"], "back\\slash");
  EXPECT_EQ(v["c"], std::string("\x01\t\n\r\0", 5));
  EXPECT_EQ(v["u"], "grüße ✓ 😀");
  EXPECT_EQ(v["s"], "it's");
  EXPECT_EQ(v["e"], "");
}

TEST_F(EngineProgram, OtherScalarsUseTheEnginesTextForm) {
  const char* exprs[] = {"DATE '2024-03-05'",
                         "DATE '0001-01-01'",
                         "DATE '-0044-03-15'",
                         "DATE 'infinity'",
                         "TIME '23:59:59.999999'",
                         "TIME '12:00:00.120'",
                         "TIMESTAMP '2024-01-02 03:04:05.123'",
                         "TIMESTAMP '1969-12-31 23:59:59.5'",
                         "TIMESTAMP '-infinity'",
                         "TIMESTAMPTZ '2024-01-01 10:00:00+02'",
                         "TIMESTAMP_S '2024-01-01 10:00:00'",
                         "TIMESTAMP_MS '2024-01-01 10:00:00.123'",
                         "TIMESTAMP_NS '2024-01-01 10:00:00.123456789'",
                         "TIMETZ '10:00:00+05:30'",
                         "INTERVAL '1 year 2 months 3 days 04:05:06.7'",
                         "INTERVAL '-3 hours'",
                         "uuid '123e4567-e89b-12d3-a456-426614174000'",
                         "uuid 'ffffffff-ffff-ffff-ffff-ffffffffffff'",
                         "'\\xAA\\x00abc''\"'::BLOB",
                         "''::BLOB",
                         "'10110101011'::BIT",
                         "'happy'::ENUM('sad', 'happy')",
                         "(-12345678901234567890123456789)::BIGNUM",
                         "'{\"a\": 1}'::JSON"};
  for (const char* e : exprs) {
    ordered_json v =
        query(std::string("SELECT ") + e + " AS v, CAST(" + e + " AS VARCHAR) AS t")[0];
    ASSERT_TRUE(v["v"].is_string()) << e;
    EXPECT_EQ(v["v"], v["t"]) << e;
  }
  ordered_json fixed = query(
      "SELECT DATE '2024-03-05' d, TIMESTAMP '2024-01-02 03:04:05' ts, INTERVAL 3 DAY i, "
      "'\\xFF'::BLOB b")[0];
  EXPECT_EQ(fixed.dump(),
            R"({"d":"2024-03-05","ts":"2024-01-02 03:04:05","i":"3 days","b":"\\xFF"})");
  // An instant with a zone is printed in UTC whatever the session's zone, so it never
  // depends on the machine it ran on.
  ordered_json zoned = query(
      "SET TimeZone = 'America/New_York'; SELECT TIMESTAMPTZ '2024-01-01 10:00:00+02' AS v")[0];
  EXPECT_EQ(zoned["v"], "2024-01-01 08:00:00+00");
}

TEST_F(EngineProgram, NullInEveryType) {
  const char* types[] = {"BOOLEAN",
                         "TINYINT",
                         "SMALLINT",
                         "INTEGER",
                         "BIGINT",
                         "HUGEINT",
                         "UHUGEINT",
                         "UBIGINT",
                         "DECIMAL(9,2)",
                         "FLOAT",
                         "DOUBLE",
                         "VARCHAR",
                         "BLOB",
                         "DATE",
                         "TIME",
                         "TIMESTAMP",
                         "TIMESTAMPTZ",
                         "INTERVAL",
                         "UUID",
                         "BIT",
                         "INTEGER[]",
                         "INTEGER[2]",
                         "STRUCT(a INTEGER)",
                         "MAP(VARCHAR, INTEGER)",
                         "ENUM('x')",
                         "UNION(n INTEGER, s VARCHAR)"};
  std::string sql = "SELECT NULL AS untyped";
  for (std::size_t i = 0; i < std::size(types); ++i) {
    sql += ", NULL::" + std::string(types[i]) + " AS c" + std::to_string(i);
  }
  ordered_json v = query(sql)[0];
  ASSERT_EQ(v.size(), std::size(types) + 1);
  for (const auto& [name, value] : v.items()) EXPECT_TRUE(value.is_null()) << name;
}

TEST_F(EngineProgram, NestedValuesKeepStructureAndMemberOrder) {
  ordered_json v = query(
      "SELECT [1, NULL, 3] l, [[1], [], NULL] ll, [1.5, 2.5]::DOUBLE[2] arr, "
      "{'b': 1, 'a': 'x', 'c': [DATE '2024-01-02']} s, "
      "MAP {'k2': {'z': 1, 'y': [true]}, 'k1': NULL} m, MAP {1: 'one', 2: 'two'} mi, "
      "[{'p': MAP {DATE '2024-01-01': [1, 2]}}] deep, []::INTEGER[] empty, "
      "union_value(s := 'txt')::UNION(n INTEGER, s VARCHAR) u")[0];
  EXPECT_EQ(
      v.dump(),
      R"({"l":[1,null,3],"ll":[[1],[],null],"arr":[1.5,2.5],)"
      R"("s":{"b":1,"a":"x","c":["2024-01-02"]},"m":{"k2":{"z":1,"y":[true]},"k1":null},)"
      R"("mi":{"1":"one","2":"two"},"deep":[{"p":{"2024-01-01":[1,2]}}],"empty":[],"u":"txt"})");
}

TEST_F(EngineProgram, OneArrayPerStatementWithRows) {
  EngineRun r =
      run("CREATE TABLE t (a INTEGER, b VARCHAR);\n"
          "INSERT INTO t VALUES (1, 'x'), (2, 'y');\n"
          "SELECT * FROM t ORDER BY a;\n"
          "SELECT * FROM t WHERE a > 5;\n"
          "SELECT 'a;b' AS semi;\n"
          "COPY t TO 'out.csv' (FORMAT CSV, HEADER);\n"
          "-- a trailing comment\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[{\"a\":1,\"b\":\"x\"},\n{\"a\":2,\"b\":\"y\"}]\n[{\"semi\":\"a;b\"}]\n");
  EXPECT_EQ(r.err, "");

  EngineRun nothing = run("CREATE TABLE t (a INTEGER); SELECT * FROM t; SET threads = 1;");
  EXPECT_EQ(nothing.status, 0) << nothing.err;
  EXPECT_EQ(nothing.out, "");

  EngineRun empty = run("");
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
}

TEST_F(EngineProgram, ColumnLineDescribesTheLastAnswerOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"SELECT 1 AS a, 'x' AS b, NULL::INTEGER AS c, 1.5::DECIMAL(4,1) AS d, DATE '2024-01-02' AS "
       "e "
       "WHERE false",
       R"x({"columns":[{"name":"a","type":"INTEGER","numeric":true},)x"
       R"x({"name":"b","type":"VARCHAR","numeric":false},{"name":"c","type":"INTEGER","numeric":true},)x"
       R"x({"name":"d","type":"DECIMAL(4,1)","numeric":true},{"name":"e","type":"DATE","numeric":false}]})x"
       "\n"},
      {"SELECT 1 AS a; SELECT NULL::DOUBLE AS \"n\"\"q\" UNION ALL SELECT 2",
       "[{\"a\":1}]\n"
       R"x({"columns":[{"name":"n\"q","type":"DOUBLE","numeric":true}]})x"
       "\n[{\"n\\\"q\":null},\n{\"n\\\"q\":2.0}]\n"},
      {"CREATE TABLE t (a INTEGER)", ""},
      {"SELECT 1 AS a; CREATE TABLE t (a INTEGER)", "[{\"a\":1}]\n"},
  };
  for (const auto& [script, expected] : cases) {
    EngineRun r =
        runProgram(PLINTHOS_ENGINE_PATH, {":memory:", "-json", "-columns"}, data_, script, home_);
    EXPECT_EQ(r.status, 0) << script << r.err;
    EXPECT_EQ(r.out, expected) << script;
  }
  // Only a JSON answer has a column line.
  EngineRun table = runProgram(PLINTHOS_ENGINE_PATH, {":memory:", "-columns"}, data_,
                               "SELECT 1 AS a WHERE false", home_);
  EXPECT_EQ(table.out.find("columns"), std::string::npos) << table.out;
}

TEST_F(EngineProgram, FailuresStopTheScript) {
  EngineRun syntax = run("SELEC 1; COPY (SELECT 1) TO 'after.csv';");
  EXPECT_EQ(syntax.status, 1);
  EXPECT_NE(syntax.err.find("syntax error"), std::string::npos) << syntax.err;
  EXPECT_EQ(syntax.out, "");

  EngineRun missingFile =
      run("SELECT 1 AS first; COPY (SELECT 1) TO 'before.csv'; SELECT * FROM read_csv('nope.csv'); "
          "COPY (SELECT 1) TO 'after.csv';");
  EXPECT_EQ(missingFile.status, 1);
  EXPECT_EQ(missingFile.out, "[{\"first\":1}]\n");
  EXPECT_NE(missingFile.err.find("nope.csv"), std::string::npos) << missingFile.err;
  EXPECT_TRUE(std::filesystem::exists(data_ / "before.csv"));
  EXPECT_FALSE(std::filesystem::exists(data_ / "after.csv"));

  EngineRun missingColumn = run("SELECT missing_col FROM range(3); SELECT 2;");
  EXPECT_EQ(missingColumn.status, 1);
  EXPECT_NE(missingColumn.err.find("missing_col"), std::string::npos) << missingColumn.err;
  EXPECT_EQ(missingColumn.out, "");

  EngineRun runtime = run("SELECT error('boom') FROM range(5); SELECT 2;");
  EXPECT_EQ(runtime.status, 1);
  EXPECT_NE(runtime.err.find("boom"), std::string::npos);
  EXPECT_EQ(runtime.out.find("2"), std::string::npos);
}

// A later statement's error names its line in the whole script, shown from the statement's
// start, with the caret under the cause.
TEST_F(EngineProgram, LaterStatementErrorsCarryTheirLine) {
  struct Case {
    const char* script;
    const char* context;
  };
  const Case cases[] = {
      {"SELECT 1;\nSELECT nosuch\n FROM range(1);", "LINE 2: SELECT nosuch\n               ^"},
      {"SELECT 1;   SELECT nosuch FROM range(1);",
       "LINE 1:    SELECT nosuch FROM range(1)\n                  ^"},
      {"SELECT ';' AS a; /* ; */ SELECT $$;$$ AS b;\n\n  SELECT x FROM nowhere;",
       "LINE 3:   SELECT x FROM nowhere\n                        ^"},
      {"CREATE TEMP TABLE t AS SELECT 1 AS a;\nSELECT b FROM t;",
       "LINE 2: SELECT b FROM t\n               ^"},
  };
  for (const Case& c : cases) {
    EngineRun r = run(c.script);
    EXPECT_EQ(r.status, 1) << c.script;
    EXPECT_NE(r.err.find(c.context), std::string::npos) << c.script << "\n" << r.err;
  }
}

TEST_F(EngineProgram, DefaultModePrintsATable) {
  EngineRun r = run("SELECT 1 AS n, 'hello' AS word UNION ALL SELECT 22, NULL ORDER BY n;", false);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            " n | word\n"
            "---+------\n"
            " 1 | hello\n"
            "22 | NULL\n"
            "(2 rows)\n");
  EngineRun copy = run("COPY (SELECT 1) TO 'x.csv';", false);
  EXPECT_EQ(copy.status, 0);
  EXPECT_EQ(copy.out, "");
}

TEST_F(EngineProgram, CommandLine) {
  EngineRun version = runProgram(PLINTHOS_ENGINE_PATH, {"--version"}, data_, "", home_);
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("v1."), std::string::npos) << version.out;

  EngineRun noDatabase = runProgram(PLINTHOS_ENGINE_PATH, {"-json"}, data_, "SELECT 7 AS x", home_);
  EXPECT_EQ(noDatabase.status, 0);
  EXPECT_EQ(noDatabase.out, "[{\"x\":7}]\n");

  EngineRun unknown = runProgram(PLINTHOS_ENGINE_PATH, {":memory:", "-bogus"}, data_, "", home_);
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("-bogus"), std::string::npos);

  EngineRun fileDb = runProgram(PLINTHOS_ENGINE_PATH, {"store.db"}, data_, "SELECT 1", home_);
  EXPECT_EQ(fileDb.status, 2);
  EXPECT_FALSE(std::filesystem::exists(data_ / "store.db"));
}

TEST_F(EngineProgram, LargeAnswersStream) {
  constexpr long kRows = 3000000;
  std::size_t bytes = 0, lines = 0;
  EngineRun r = runProgram(PLINTHOS_ENGINE_PATH, {":memory:", "-json"}, data_,
                           "SELECT range AS i, 'row number ' || range AS label FROM range(" +
                               std::to_string(kRows) + ")",
                           home_, false, &bytes, &lines);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines, static_cast<std::size_t>(kRows));
  // Over 100 MB of text went through while the process stayed far below that.
  EXPECT_GT(bytes, 100u * 1024 * 1024);
  EXPECT_LT(r.peakKb, 100L * 1024);
}

}  // namespace
}  // namespace plinthos::test
