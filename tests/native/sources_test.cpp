// The working-folder rule and the expansion of folder arguments into file patterns.
#include "services/sources.h"

#include "services/folders.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using SourcesTest = NativeTest;

TEST_F(SourcesTest, WorkingFolderIsTheDataFolderOrTheApplicationFolder) {
  EXPECT_EQ(workingFolder(exePath), appFolder.string());  // nothing configured
  setBucket(data);
  EXPECT_EQ(workingFolder(exePath), data.string());
  setBucket(data / "gone");
  EXPECT_EQ(workingFolder(exePath), appFolder.string());
  writeFile(data / "plain.txt", "x");
  setBucket(data / "plain.txt");  // existence is all that counts
  EXPECT_EQ(workingFolder(exePath), (data / "plain.txt").string());
  writeConfig(R"({"bucketPath":["not","text"]})");
  EXPECT_EQ(workingFolder(exePath), appFolder.string());
  // An executable path longer than any fixed buffer still works.
  std::string deep =
      (root / std::string(1500, 'x') / "A.app" / "Contents" / "MacOS" / "A").string();
  EXPECT_EQ(workingFolder(deep), (root / std::string(1500, 'x')).string());
}

TEST_F(SourcesTest, FolderArgumentsBecomeRecursivePatterns) {
  const std::string w = data.string();
  fs::create_directories(data / "2024");
  fs::create_directories(data / "data");
  auto csv = [&](const std::string& sql) { return expandSourceFolders(w, sql, "read_csv", "csv"); };
  const std::string u = kFolderReadOptions;
  EXPECT_EQ(csv("SELECT * FROM read_csv('2024')"),
            "SELECT * FROM read_csv('2024/**/*.csv'" + u + ")");
  EXPECT_EQ(csv("SELECT * FROM read_csv('2024/')"),
            "SELECT * FROM read_csv('2024//**/*.csv'" + u + ")");
  EXPECT_EQ(csv("READ_CSV('x') Read_Csv('2024')"),
            "read_csv('x') read_csv('2024/**/*.csv'" + u + ")");
  EXPECT_EQ(csv("read_csv('" + w + "')"), "read_csv('" + w + "/**/*.csv'" + u + ")");  // absolute
  EXPECT_EQ(csv("myread_csv('data')"), "myread_csv('data/**/*.csv'" + u + ")");  // no word boundary
  // The pages' own folder calls are recognised and kept; a folder in one is expanded all the same.
  EXPECT_EQ(csv("READ_CSV('/d/**/*.csv'" + u + ")"), "read_csv('/d/**/*.csv'" + u + ")");
  EXPECT_EQ(csv("read_csv('data'" + u + ")"), "read_csv('data/**/*.csv'" + u + ")");
  for (const std::string same :
       {"read_csv('data', header = true)", "read_csv( 'data' )", "read_csv(['data'])",
        "read_csv(\"data\")", "read_csv('')", "read_csv('data'", "read_csv('/d/**/*.csv')",
        "read_csv('data', union_by_name = false)"}) {
    EXPECT_EQ(csv(same), same);
  }
  EXPECT_EQ(expandAllSourceFolders(w,
                                   "READ_PARQUET('x') JOIN read_csv('data') JOIN "
                                   "read_parquet('2024')"),
            "read_parquet('x') JOIN read_csv('data/**/*.csv'" + u + ") JOIN " +
                "read_parquet('2024/**/*.parquet'" + u + ")");
  // A path with a NUL byte names nothing, whatever precedes the NUL.
  EXPECT_EQ(csv(std::string("read_csv('2024\0x')", 17)), std::string("read_csv('2024\0x')", 17));
}

// Each name beside a sibling its pattern reading would also match: every service must read the
// named file (its one column tells which) and nothing else.
TEST_F(SourcesTest, NamesAreMatchedLiterallyByEveryService) {
  struct Case {
    std::string path;  // a file, or a folder holding f.csv
    bool folder;
    std::string sibling;
  };
  const std::vector<Case> cases = {
      {"report[1].csv", false, "report1.csv"},
      {"s*.csv", false, "sz.csv"},
      {"q?.csv", false, "qx.csv"},
      {"{b}.csv", false, "b.csv"},
      {"k=v.csv", false, "kv.csv"},
      {"it's.csv", false, "its.csv"},
      {"brk[1]", true, "brk1"},
      {"[]", true, "x"},
      {"it's dir", true, "its dir"},
      {"all*", true, "allx"},
  };
  setBucket(data);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const std::string column = "col" + std::to_string(i);
    const std::string file = c.folder ? c.path + "/f.csv" : c.path;
    writeFile(data / file, column + "\n1\n");
    writeFile(data / (c.folder ? c.sibling + "/f.csv" : c.sibling), "other\n2\n");
    const std::string only =
        R"({"columns":[")" + column + R"("],"numericCols":[true],"rows":[["1"]]})";
    const std::string literal = sqlQuoted(c.path);
    SCOPED_TRACE(c.path);

    EXPECT_EQ(call("queryDuckCpp", args({"SELECT * FROM read_csv('" + literal + "')"})), only);
    EXPECT_EQ(call("queryDuckCpp",
                   args({"SELECT * FROM read_csv('" + sqlQuoted((data / c.path).string()) + "')"})),
              only);
    json schema = callJson("getSchemaCpp", args({"SELECT * FROM read_csv('" + literal + "')"}));
    EXPECT_EQ(schema["columns"], json::parse(R"([{"name":")" + column + R"(","type":"BIGINT"}])"))
        << schema;
    if (c.folder) {
      // The pages' own call for a folder's files.
      const std::string pageCall = "read_csv('" + sqlQuoted((data / c.path).string()) +
                                   "/**/*.csv'" + kFolderReadOptions + ")";
      EXPECT_EQ(call("queryDuckCpp", args({"SELECT * FROM " + pageCall})), only);
      EXPECT_EQ(callJson("getSchemaCpp", args({"SELECT * FROM " + pageCall}))["columns"],
                schema["columns"]);
    } else {
      json converted = callJson("csv2parquetCpp", args({c.path}));
      ASSERT_TRUE(converted.contains("ok")) << converted;
      const std::string parquet = converted["ok"];
      EXPECT_EQ(
          call("queryDuckCpp", args({"SELECT * FROM read_parquet('" + sqlQuoted(parquet) + "')"})),
          only);
    }
  }
}

TEST_F(SourcesTest, SqlLiteralsDoubleTheirQuotes) {
  EXPECT_EQ(sqlQuoted("O'Brien's.csv"), "O''Brien''s.csv");
  EXPECT_EQ(sqlQuoted(""), "");
  EXPECT_EQ(sqlUnquoted("O''Brien''s.csv"), "O'Brien's.csv");
  EXPECT_EQ(literalPattern("a[1]*?.csv"), "a[[]1][*][?].csv");
  // The source finder reads a literal with doubled quotes whole.
  auto call = findSourceCall("SELECT * FROM read_csv('it''s dir') x", "read_csv");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->path, "it's dir");
  EXPECT_EQ(call->end, std::string("SELECT * FROM read_csv('it''s dir')").size());
}

}  // namespace
}  // namespace plinthos::test
