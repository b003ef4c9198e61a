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

TEST_F(SourcesTest, SqlLiteralsDoubleTheirQuotes) {
  EXPECT_EQ(sqlQuoted("O'Brien's.csv"), "O''Brien''s.csv");
  EXPECT_EQ(sqlQuoted(""), "");
}

}  // namespace
}  // namespace plinthos::test
