// listBucketCpp and chooseFolderCpp.
#include <fcntl.h>
#include <sys/stat.h>

#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using BucketTest = NativeTest;

long long birthTime(const fs::path& p) {
  struct statx st {};
  EXPECT_EQ(::statx(AT_FDCWD, p.c_str(), 0, STATX_BTIME | STATX_MTIME, &st), 0);
  return (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec;
}

std::vector<std::string> childNames(const json& node) {
  std::vector<std::string> out;
  for (const auto& c : node["children"]) out.push_back(c["name"]);
  return out;
}

TEST_F(BucketTest, ListsFoldersFirstThenDataFilesInByteOrder) {
  writeFile(data / "b.csv", "x\n1\n");
  writeFile(data / "A.parquet", "");
  writeFile(data / "notes.txt", "");
  writeFile(data / "DATA.CSV", "");
  writeFile(data / "x.csv.bak", "");
  writeFile(data / ".old.csv", "");
  writeFile(data / ".csv", "");
  fs::create_directories(data / "z" / "empty");
  writeFile(data / "M" / "2024" / "q1" / "sales.parquet", "1234567");
  setBucket(data);

  json tree = callJson("listBucketCpp", "ignored");
  EXPECT_EQ(tree["bucketPath"], data.string());
  EXPECT_EQ(tree["name"], "data");
  EXPECT_EQ(tree["type"], "dir");
  EXPECT_EQ(childNames(tree),
            (std::vector<std::string>{"M", "z", ".old.csv", "A.parquet", "b.csv"}));
  EXPECT_EQ(childNames(tree["children"][1]), std::vector<std::string>{"empty"});
  EXPECT_EQ(tree["children"][1]["children"][0]["children"], json::array());

  json sales = tree["children"][0]["children"][0]["children"][0]["children"][0];
  EXPECT_EQ(sales, (json{{"type", "file"},
                         {"name", "sales.parquet"},
                         {"ext", "parquet"},
                         {"size", 7},
                         {"path", "M/2024/q1/sales.parquet"},
                         {"created", birthTime(data / "M/2024/q1/sales.parquet")}}));
  // Members sorted in the reply text itself.
  std::string text = call("listBucketCpp");
  EXPECT_EQ(text.rfind("{\"bucketPath\":", 0), 0u);
  EXPECT_NE(text.find(R"({"created":)"), std::string::npos);
  EXPECT_NE(text.find(R"("ext":"csv","name":"b.csv","path":"b.csv","size":4,"type":"file"})"),
            std::string::npos);
}

TEST_F(BucketTest, RootWithTrailingSlashHasAnEmptyName) {
  writeFile(data / "a.csv", "");
  setBucket(data.string() + "/");
  json tree = callJson("listBucketCpp");
  EXPECT_EQ(tree["name"], "");
  EXPECT_EQ(tree["bucketPath"], data.string() + "/");
  EXPECT_EQ(tree["children"][0]["path"], "a.csv");
}

TEST_F(BucketTest, WithoutADataFolderTheBucketBesideTheBundleIsListed) {
  std::string notFound = R"({"bucketPath":")" + (appFolder / "bucket").string() +
                         R"(","error":"Bucket folder not found. Please select a folder."})";
  EXPECT_EQ(call("listBucketCpp"), notFound);
  setBucket(data / "deleted");
  EXPECT_EQ(call("listBucketCpp"), notFound);

  writeFile(appFolder / "bucket" / "s.csv", "a\n");
  writeConfig("{}");
  json tree = callJson("listBucketCpp");
  EXPECT_EQ(tree["bucketPath"], (appFolder / "bucket").string());
  EXPECT_EQ(tree["children"][0]["path"], "s.csv");
}

TEST_F(BucketTest, UnreadableTreesAnswerTheSystemsDescription) {
  writeFile(data / "plain.csv", "");
  setBucket(data / "plain.csv");
  json reply = callJson("listBucketCpp");
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_NE(reply["error"].get<std::string>().find("Not a directory"), std::string::npos);

  if (::geteuid() != 0) {  // root reads every folder anyway
    fs::create_directories(data / "d" / "locked");
    ::chmod((data / "d" / "locked").c_str(), 0);
    setBucket(data / "d");
    reply = callJson("listBucketCpp");
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_NE(reply["error"].get<std::string>().find("Permission denied"), std::string::npos);
  }
}

TEST_F(BucketTest, LinksAreFollowedAndLoopsListedEmpty) {
  writeFile(root / "elsewhere" / "e.csv", "");
  writeFile(data / "sub" / "f.csv", "");
  fs::create_directory_symlink(root / "elsewhere", data / "linked");
  fs::create_directory_symlink(data, data / "sub" / "up");            // back to the root
  fs::create_directory_symlink(data / "sub", data / "sub" / "self");  // back to itself
  setBucket(data);
  json tree = callJson("listBucketCpp");
  EXPECT_EQ(childNames(tree), (std::vector<std::string>{"linked", "sub"}));
  EXPECT_EQ(tree["children"][0]["children"][0]["path"], "../elsewhere/e.csv");
  json sub = tree["children"][1];
  EXPECT_EQ(childNames(sub), (std::vector<std::string>{"self", "up", "f.csv"}));
  EXPECT_EQ(sub["children"][0]["children"], json::array());
  EXPECT_EQ(sub["children"][1]["children"], json::array());
}

TEST_F(BucketTest, FolderChooserAnswersThePathOrEmptyAndStoresNothing) {
  dialogs.answers = {"/picked/folder", std::nullopt};
  EXPECT_EQ(call("chooseFolderCpp", "whatever"), "\"/picked/folder\"");
  EXPECT_EQ(call("chooseFolderCpp"), "\"\"");
  EXPECT_EQ(call("chooseFolderCpp"), "\"\"");  // no answer left counts as cancelled
  EXPECT_EQ(dialogs.asked, 3);
  EXPECT_FALSE(fs::exists(configFile()));
}

}  // namespace
}  // namespace plinthos::test
