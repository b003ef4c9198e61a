// Held answers: the rows, columns and points a page fetches are the engine's own answer, ids
// are refused once freed, and nothing passes the cap.
#include "services/held.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using namespace std::string_literals;

class HeldTest : public NativeTest {
 protected:
  void TearDown() override {
    freeAllHeld();
    ::unsetenv("PLINTHOS_HELD_CAP_MB");
    NativeTest::TearDown();
  }
  json hold(const std::string& sql, const std::string& place = "query") {
    return callJson("holdQueryCpp", args({sql, place}));
  }
  static json fetchJson(const std::string& path) {
    FetchReply reply = fetchHeld(path);
    EXPECT_EQ(reply.status, 200) << path << ": " << reply.body;
    return json::parse(reply.body);
  }
};

// Cells of every kind, as the query result writes them, and the rows fetched by range agree
// with the engine's own rows: first, middle, last, NULLs, wide integers, separators.
TEST_F(HeldTest, RowsAndRangesAreTheEnginesOwn) {
  const std::vector<std::string> statements = {
      "SELECT 1 AS a, NULL::INTEGER AS b, 'x,\"y' AS t, 2.5::DOUBLE AS d, 12.30::DECIMAL(5,2) AS "
      "m, [1,2] AS l, {'z':1,'a':2} AS s, true AS bo, DATE '2020-01-02' AS dt, "
      "170141183460469231731687303715884105727::HUGEINT AS h, 0.1::FLOAT AS f, 'nan'::DOUBLE AS "
      "n, 18446744073709551615::UBIGINT AS u UNION ALL SELECT 2, 3, '', NULL, NULL, NULL, NULL, "
      "NULL, NULL, NULL, NULL, NULL, NULL",
      "SELECT i, 9007199254740993 + i AS big, CASE WHEN i % 7 = 0 THEN NULL ELSE 'line\n' || i "
      "|| ';\t\"q\"' END AS txt, i / 3 AS q FROM range(2600) t(i)",
      "CREATE TABLE t AS SELECT 1 AS k; SELECT k, 'é' AS e FROM t",
  };
  for (const auto& sql : statements) {
    SCOPED_TRACE(sql);
    json expected = callJson("queryDuckCpp", args({sql}));
    json held = hold(sql);
    ASSERT_TRUE(held.contains("answer")) << held.dump();
    EXPECT_EQ(held["columns"], expected["columns"]);
    EXPECT_EQ(held["numericCols"], expected["numericCols"]);
    const std::size_t total = expected["rows"].size();
    EXPECT_EQ(held["rowCount"], total);
    const std::string id = held["answer"];
    for (std::size_t from : {std::size_t{0}, total / 2, total - 1}) {
      json got = fetchJson(id + "/rows?from=" + std::to_string(from) + "&count=300");
      for (std::size_t r = 0; r < got["rows"].size(); ++r) {
        ASSERT_EQ(got["rows"][r], expected["rows"][from + r]) << "row " << from + r;
      }
      for (const auto& nul : got["nulls"]) {
        EXPECT_EQ(expected["rows"][from + nul[0].get<std::size_t>()][nul[1].get<std::size_t>()],
                  "");
      }
    }
  }
  // The first rows come with the reply, with the engine's type names.
  json first = hold(statements[0]);
  EXPECT_EQ(first["rows"], callJson("queryDuckCpp", args({statements[0]}))["rows"]);
  EXPECT_EQ(first["types"][4], "DECIMAL(5,2)");
  EXPECT_EQ(first["nulls"][0], json::array({0, 1}));
}

TEST_F(HeldTest, ColumnsTextsAndPointsOfAnAnswer) {
  json held = hold(
      "SELECT i, CASE WHEN i = 2 THEN NULL ELSE i * 1.5 END AS v, 'k' || i AS k "
      "FROM range(5000) t(i)");
  const std::string id = held["answer"];
  FetchReply column = fetchHeld(id + "/column?c=1");
  ASSERT_EQ(column.status, 200);
  ASSERT_EQ(column.body.size(), 5000u * 9);
  auto value = [&](std::size_t r) {
    double v;
    std::memcpy(&v, column.body.data() + r * 8, 8);
    return v;
  };
  EXPECT_EQ(value(1), 1.5);
  EXPECT_TRUE(std::isnan(value(2)));
  EXPECT_EQ(value(4999), 4999 * 1.5);
  EXPECT_EQ(column.body[5000 * 8 + 2], 1);
  EXPECT_EQ(column.body[5000 * 8 + 3], 0);
  EXPECT_EQ(fetchJson(id + "/texts?c=1&from=1&count=2"), json::parse(R"(["1.5",null])"));
  json points = fetchJson(id + "/points?x=0&y=1&max=100");
  EXPECT_EQ(points["rowCount"], 5000);
  EXPECT_EQ(points["shown"], 100);
  EXPECT_EQ(points["columns"], json::parse(R"(["i","v"])"));
  EXPECT_EQ(points["rows"].front(), json::parse(R"(["0","0.0"])"));
  EXPECT_EQ(points["rows"].back(), json::parse(R"(["4999","7498.5"])"));
  for (const char* bad : {"/column?c=9", "/points?x=0&max=5", "/rows?from=x&count=1"}) {
    EXPECT_EQ(fetchHeld(id + bad).status, 400) << bad;
  }
}

// An id that is unknown, freed, or replaced by a new run of its place is refused; a run of
// another place keeps its own.
TEST_F(HeldTest, FreedAnswersAreRefused) {
  const std::string first = hold("SELECT 1 AS a")["answer"];
  const std::string other = hold("SELECT 2 AS a", "dash:p1")["answer"];
  EXPECT_EQ(fetchHeld("0123456789abcdef0123456789abcdef/rows?from=0&count=1").status, 404);
  EXPECT_EQ(fetchHeld(first + "/../../etc/passwd").status, 404);
  const std::string second = hold("SELECT 3 AS a")["answer"];
  EXPECT_NE(first, second);
  EXPECT_EQ(fetchHeld(first + "/rows?from=0&count=1").status, 404);
  EXPECT_EQ(fetchHeld(other + "/rows?from=0&count=1").status, 200);
  // A failed run of a place frees what it held all the same.
  EXPECT_TRUE(hold("SELECT * FROM nope").contains("error"));
  EXPECT_EQ(fetchHeld(second + "/rows?from=0&count=1").status, 404);
  EXPECT_EQ(call("freeAnswerCpp", args({other})), R"({"ok":true})");
  EXPECT_EQ(fetchHeld(other + "/rows?from=0&count=1").status, 404);
  EXPECT_EQ(call("saveAnswerCsvCpp", args({other})), R"({"error":"No such answer"})");
  EXPECT_EQ(heldUsage().first, 0u);
}

// A run that ends after a later run of its place has started holds nothing and leaves the later
// one's answer alone.
TEST_F(HeldTest, AnOlderRunNeverReplacesANewerOne) {
  const fs::path slow = root / "slow-engine";
  const std::string real = engine;
  writeScript(
      slow, "cat > /dev/null\nsleep 1\nexec " + sq(real) + " \"$@\" <<'EOF'\nSELECT 1 AS a\nEOF\n");
  std::thread older([&] {
    auto late = holdQuery("SELECT 1 AS a", "query", ServiceEnv{exePath, slow.string()});
    EXPECT_TRUE(std::holds_alternative<Cancelled>(late));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string newer = hold("SELECT 2 AS a")["answer"];
  older.join();
  EXPECT_EQ(fetchJson(newer + "/rows?from=0&count=1")["rows"][0][0], "2");
  EXPECT_EQ(heldUsage().first, 1u);
}

TEST_F(HeldTest, StopHoldsNothingAndTheCapRefusesLargeAnswers) {
  hold("SELECT 1 AS a");
  {
    EngineStop stop;
    stop.stop();
    StopScope scope(&stop);
    EXPECT_EQ(call("holdQueryCpp", args({"SELECT 2 AS a", "query"})), R"({"cancelled":true})");
  }
  EXPECT_EQ(heldUsage().first, 0u);
  ::setenv("PLINTHOS_HELD_CAP_MB", "1", 1);
  json big = hold("SELECT i, 'some text ' || i AS t FROM range(400000) t(i)");
  ASSERT_TRUE(big.contains("error")) << big.dump().substr(0, 200);
  EXPECT_NE(big["error"].get<std::string>().find("larger than the 1 MB"), std::string::npos);
  EXPECT_EQ(heldUsage().first, 0u);
}

TEST_F(HeldTest, CsvOfAHeldAnswer) {
  const std::string id = hold(
      "SELECT * FROM (VALUES (1, 'a,b', 1.5), (2, '', NULL), (NULL, 'say \"hi\"', 2.0)) "
      "v(\"n o\", t, d)")["answer"];
  EXPECT_EQ(findHeld(id)->csv(), "n o,t,d\n1,\"a,b\",1.5\n2,\"\",\n,\"say \"\"hi\"\"\",2.0\n");
}

// A chunk is taken only whole, however the output is cut into pieces; anything cut short or
// not in the layout is refused.
TEST(HeldLayout, PiecesMakeTheAnswerAndMalformedOutputIsRefused) {
  const std::string line = R"({"columns":[{"name":"a","type":"INTEGER","numeric":true},)"
                           R"({"name":"t","type":"VARCHAR","numeric":false}]})"
                           "\n";
  auto put = [](std::string& out, auto value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
  };
  std::string chunk;
  chunk += '\x01';
  put(chunk, std::int64_t{7});
  put(chunk, std::int64_t{-2});
  chunk += "\x01\x01";
  chunk += '\x04';
  put(chunk, std::uint32_t{2});
  chunk += "hi";
  put(chunk, std::uint32_t{0});
  chunk += "\x01\x00"s;
  std::string good = line;
  for (int i = 0; i < 2; ++i) {
    put(good, std::uint32_t{2});
    put(good, std::uint64_t{chunk.size()});
    good += chunk;
  }
  put(good, std::uint32_t{0});
  for (std::size_t step : {good.size(), std::size_t{1}, std::size_t{5}}) {
    HeldParser parser;
    for (std::size_t at = 0; at < good.size(); at += step) {
      ASSERT_TRUE(parser.feed(std::string_view(good).substr(at, step)));
    }
    auto answer = parser.finish();
    ASSERT_TRUE(answer) << step;
    EXPECT_EQ(answer->rows, 4u);
    std::string rows;
    answer->appendRows(rows, 1, 2, true);
    EXPECT_EQ(rows, R"({"rows":[["-2",""],["7","hi"]],"nulls":[[0,1]]})");
  }
  for (std::size_t cut = line.size(); cut < good.size(); ++cut) {
    EXPECT_FALSE(heldAnswerFromOutput(good.substr(0, cut))) << cut;
  }
  std::string badKind = good;
  badKind[line.size() + 12] = '\x09';
  EXPECT_FALSE(heldAnswerFromOutput(badKind));
  EXPECT_FALSE(heldAnswerFromOutput(good + "x"));
  EXPECT_FALSE(heldAnswerFromOutput("not a line"));
  // Past the room the parser stops before the chunk has all come.
  HeldParser small(chunk.size() - 1);
  EXPECT_FALSE(small.feed(std::string_view(good).substr(0, line.size() + 20)));
  EXPECT_TRUE(small.tooLarge());
}

TEST(HeldPoints, ReductionKeepsShapeEndsAndSkipsGaps) {
  const double nan = std::nan("");
  struct Case {
    std::vector<double> ys;
    std::size_t most;
    std::vector<std::size_t> kept;
  };
  const std::vector<Case> cases = {
      {{1, 2, 3}, 5, {0, 1, 2}},
      {{1, nan, 3, 4}, 10, {0, 2, 3}},
      {{0, 0, 0, 9, 0, 0, 0, 0, 0, 0}, 3, {0, 3, 9}},
      {{0, 0, 0, 0, 0, 0, -5, 0, 0, 0}, 3, {0, 6, 9}},
  };
  for (const auto& c : cases) {
    std::vector<double> xs(c.ys.size());
    for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = static_cast<double>(i);
    EXPECT_EQ(reducedPoints(xs, c.ys, c.most), c.kept);
  }
  std::vector<double> xs(100000), ys(100000);
  for (std::size_t i = 0; i < xs.size(); ++i) {
    xs[i] = static_cast<double>(i);
    ys[i] = std::sin(static_cast<double>(i) / 1000.0);
  }
  auto kept = reducedPoints(xs, ys, 2000);
  EXPECT_EQ(kept.size(), 2000u);
  EXPECT_EQ(kept.front(), 0u);
  EXPECT_EQ(kept.back(), 99999u);
  EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()));
}

}  // namespace
}  // namespace plinthos::test
