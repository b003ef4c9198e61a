// The query result written in one parser pass, against the same result built from documents
// (parse the whole output, then dump a result document), on hand-picked and generated output.
#include <random>

#include "app/replies.h"
#include "services/engine_runner.h"
#include "services/query.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using QueryResultTest = NativeTest;

std::optional<std::string> referenceResult(const std::string& output) {
  ordered_json parsed = ordered_json::parse(output, nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  ordered_json columns = ordered_json::array(), numeric = ordered_json::array(),
               rows = ordered_json::array(), nulls = ordered_json::array();
  if (parsed.is_array() && !parsed.empty()) {
    if (!parsed.front().is_object()) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [name, value] : parsed.front().items()) {
      names.push_back(name);
      columns.push_back(name);
      numeric.push_back(value.is_number());
    }
    for (const auto& element : parsed) {
      if (!element.is_object()) return std::nullopt;
      ordered_json row = ordered_json::array();
      for (const auto& name : names) {
        auto it = element.find(name);
        if (it == element.end() || it->is_null()) {
          nulls.push_back({rows.size(), row.size()});
          row.push_back("");
        } else if (it->is_string()) {
          row.push_back(*it);
        } else {
          row.push_back(compactJson(json(*it)));
        }
      }
      rows.push_back(std::move(row));
    }
  }
  ordered_json result = ordered_json::object();
  result["columns"] = std::move(columns);
  result["numericCols"] = std::move(numeric);
  result["rows"] = std::move(rows);
  if (!nulls.empty()) result["nulls"] = std::move(nulls);
  return compactJson(result);
}

void expectSame(const std::string& output) {
  auto ours = queryResultFromOutput(output);
  auto reference = referenceResult(output);
  ASSERT_EQ(ours.has_value(), reference.has_value()) << output;
  if (ours) {
    EXPECT_EQ(*ours, *reference) << output;
  }
}

TEST_F(QueryResultTest, HandPickedOutputMatchesTheDocumentBuiltResult) {
  for (
      const char* output :
      {// escapes, surrogate pairs, control characters, non-ASCII in names and cells
       R"([{"s":"a\"b\\c\/d\b\f\n\r\t\u0001\u001f\u007f","é\u00e9":"\ud83d\ude00 ü"}])",
       R"([{"\"k\"":"\u0000x"}])",
       // numbers at and past the integer limits, doubles of every shape
       R"([{"a":18446744073709551615,"b":18446744073709551616,"c":-9223372036854775808,)"
       R"("d":-9223372036854775809,"e":0,"f":-0,"g":-0.0,"h":1E400000,"i":5e-324}])",
       R"([{"a":1.0,"b":1e21,"c":1e-5,"d":123456789012345680000,"e":0.1,"f":-2.5e-10}])",
       R"([{"h":1.7976931348623157e308,"i":2.2250738585072014e-308,"j":100,"k":1e2}])",
       // nulls, booleans, missing, extra, reordered and repeated members
       R"([{"a":null,"b":true,"c":false},{"c":1,"a":"x"},{"b":null,"z":9,"a":[]}])",
       R"([{"a":1,"a":null},{"a":2,"a":"t","a":{"y":1,"x":2}}])",
       // nested values, sorted and compact; repeated nested members
       R"([{"s":{"b":[1,{"d":null,"c":"\u00fc"}],"a":{}},"l":[[],[[1.5]],"x"],"m":{"k":1,"k":2}}])",
       // shapes that are no result, or an empty one
       "[]", " [ ] ", "{}", R"({"x":[{"a":1}]})", "42", "\"text\"", "null", "[{}]", "[{},{}]",
       "[1]", "[[]]", R"([{"a":1},2])", R"([{"a":1},[]])", R"([{"a":1},null])", "", " ", "[1][2]",
       R"([{"a":1}] x)", R"([{"a":1},])", "[{\"a\":\"\xff\"}]", R"([{"a":"\ud800"}])",
       R"([{"a":"\udc00x"}])", "[{\"a\":\"tab\tinside\"}]", R"([{"a":01}])", R"([{"a":1e999}])",
       "[{\"a\":1}]\n", "\xef\xbb\xbf[{\"a\":1}]"}) {
    expectSame(output);
  }
}

// Random row arrays with awkward values, and cut-off copies of them.
class OutputGenerator {
 public:
  explicit OutputGenerator(unsigned seed) : rng_(seed) {}

  std::string rows() {
    std::string out = "[";
    int count = pick(0, 6);
    for (int r = 0; r < count; ++r) {
      if (r) out += ',';
      out += pick(0, 40) == 0 ? value(1) : object(0);
    }
    return out + "]";
  }

  // The engine's layout, "[" row ",\n" row ... "]\n", with now and then a line break between
  // the members or items of a value as well (no real engine output has one).
  std::string engineRows() {
    breaks_ = pick(0, 3) == 0;
    std::string out = "[";
    int count = pick(0, 12);
    for (int r = 0; r < count; ++r) {
      if (r) out += ",\n";
      out += pick(0, 60) == 0 ? value(1) : object(0);
    }
    breaks_ = false;
    return out + (pick(0, 5) ? "]\n" : "]");
  }

 private:
  std::string comma() { return breaks_ && pick(0, 3) == 0 ? ",\n" : ","; }
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::string object(int depth) {
    static const char* kNames[] = {"a", "b", "c", "é", "a\\\"q", "\\u0062"};
    std::string out = "{";
    int members = pick(0, 5);
    for (int m = 0; m < members; ++m) {
      if (m) out += comma();
      out += std::string("\"") + kNames[pick(0, 5)] + "\":" + value(depth + 1);
    }
    return out + "}";
  }

  std::string value(int depth) {
    static const char* kScalars[] = {"null",
                                     "true",
                                     "false",
                                     "0",
                                     "-0",
                                     "7",
                                     "-12",
                                     "18446744073709551615",
                                     "18446744073709551616",
                                     "-9223372036854775809",
                                     "3.0",
                                     "2.5e-8",
                                     "1e22",
                                     "0.30000000000000004",
                                     "\"\"",
                                     "\"x\\ty\"",
                                     "\"\\ud834\\udd1e\"",
                                     "\"ü€\"",
                                     "\"\\u0000\\u001b\"",
                                     "\"a\\\"b\\\\\""};
    int kind = pick(0, depth > 3 ? 19 : 23);
    if (kind < 20) return kScalars[kind];
    if (kind < 22) return object(depth);
    std::string out = "[";
    int items = pick(0, 3);
    for (int i = 0; i < items; ++i) out += (i ? comma() : "") + value(depth + 1);
    return out + "]";
  }

  std::mt19937 rng_;
  bool breaks_ = false;
};

TEST_F(QueryResultTest, GeneratedOutputMatchesTheDocumentBuiltResult) {
  OutputGenerator generator(20241207);
  for (int i = 0; i < 3000; ++i) {
    std::string output = generator.rows();
    expectSame(output);
    expectSame(output.substr(0, output.size() / 2));  // cut short: never a result
  }
}

// The engine's layout converted in batches of every size: the same replies as the whole output
// read at once, also when it is cut short or breaks lines inside a value.
TEST_F(QueryResultTest, OutputConvertedInBatchesMatchesTheDocumentBuiltResult) {
  OutputGenerator generator(20261207);
  std::mt19937 rng(7);
  auto upTo = [&](std::size_t most) {
    return std::uniform_int_distribution<std::size_t>(1, most)(rng);
  };
  for (int i = 0; i < 3000; ++i) {
    const std::string output = generator.engineRows();
    for (const std::string& text : {output, output.substr(0, upTo(output.size()))}) {
      auto ours = queryResultFromOutput(text, upTo(80));
      auto reference = referenceResult(text);
      ASSERT_EQ(ours.has_value(), reference.has_value()) << text;
      if (ours) {
        EXPECT_EQ(*ours, *reference) << text;
      }
    }
  }
}

// An engine that writes its output in pieces with pauses between them, so the service reads
// it while the engine still runs; pieces may split escapes and characters anywhere.
void writePiecewiseEngine(const fs::path& script, const std::vector<std::string>& pieces,
                          int code) {
  std::string body;
  const std::string to = code != 0 ? " >&2" : "";  // a failing engine tells why on stderr
  for (const auto& piece : pieces) body += "printf '%s' " + sq(piece) + to + "\nsleep 0.05\n";
  writeScript(script, "cat > /dev/null\n" + body + "exit " + std::to_string(code) + "\n");
}

TEST_F(QueryResultTest, OutputReadWhileTheEngineRunsGivesTheSameReplies) {
  setBucket(data);
  engine = (root / "piecewise-engine").string();
  const std::string bigText(200000, 'x');  // more than one read's worth
  struct Case {
    std::vector<std::string> pieces;
    int code;
  };
  const std::vector<Case> cases = {
      {{"[{\"a\":\"\\u00", "e9\xc3", "\xbc\",\"n\":1", "2.5},{\"a\":\"" + bigText, "\"}]\n"}, 0},
      {{"[{\"a\":1}]", "\n[{\"b\":2}]\n"}, 0},   // a second value arriving later
      {{"not json ", bigText, " and more"}, 0},  // refused at once, still read to the end
      {{"[{\"a\":1}]\n", "Error: after the rows\n"}, 1},
      {{"[{\"a\":", "1"}, 0},  // cut short
      {{"", ""}, 0},
  };
  for (const auto& c : cases) {
    std::string whole;
    for (const auto& piece : c.pieces) whole += piece;
    writePiecewiseEngine(engine, c.pieces, c.code);
    std::string expected =
        c.code != 0 ? errorReply(whole) : referenceResult(whole).value_or(errorReply(whole));
    EXPECT_EQ(call("queryDuckCpp", args({"SELECT 1"})), expected) << whole.substr(0, 80);
  }
  writePiecewiseEngine(engine, cases[0].pieces, 0);
  std::string reply = call("queryDuckCpp", args({"SELECT 1"}));
  EXPECT_EQ(reply.rfind("{\"columns\":[\"a\",\"n\"],\"numericCols\":[false,true],"
                        "\"rows\":[[\"\xc3\xa9\xc3\xbc\",\"12.5\"],[\"xxx",
                        0),
            0u);
}

// The real engine's output for values of every kind it prints, converted both ways.
TEST_F(QueryResultTest, RealEngineOutputMatchesTheDocumentBuiltResult) {
  setBucket(data);
  const std::string sql =
      "SELECT i, i * 1.5 AS d, 'ü\"\\' || i AS t, NULL AS n, i % 2 = 0 AS b, [i, NULL] AS l, "
      "{'y': i, 'x': 'v'} AS s, MAP {'k': i} AS m, DATE '2024-01-01' + CAST(i AS INTEGER) AS day, "
      "'nan'::DOUBLE AS nan, 18446744073709551615::UBIGINT AS big, chr(1) || chr(10) AS ctl "
      "FROM range(3) t(i)";
  auto ran = runEngine(data.string(), engine, sql, "/tmp/duckquery_", OutputMode::Json);
  ASSERT_TRUE(succeeded(ran));
  const EngineRun& run = std::get<EngineRun>(ran);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  expectSame(run.output);
  // Through the bridge the kinds come from the column types: the NULL column is typed INTEGER
  // and NaN is a DOUBLE.
  ordered_json expected = ordered_json::parse(*referenceResult(run.output));
  expected["numericCols"][3] = true;
  expected["numericCols"][9] = true;
  EXPECT_EQ(call("queryDuckCpp", args({sql})), compactJson(expected));
}

}  // namespace
}  // namespace plinthos::test
