// listBucketCpp and chooseFolderCpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <functional>

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

TEST_F(BucketTest, AnUnreadableRootAnswersTheSystemsDescription) {
  writeFile(data / "plain.csv", "");
  setBucket(data / "plain.csv");
  json reply = callJson("listBucketCpp");
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_NE(reply["error"].get<std::string>().find("Not a directory"), std::string::npos);
}

// `body`'s reply as an ordinary user sees it: root reads every folder anyway.
std::string asOrdinaryUser(const fs::path& root, const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  // Everything readable to others, except what a test locked on purpose.
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if ((st.st_mode & 0777) == 0) {
      it.disable_recursion_pending();
      continue;
    }
    ::chmod(it->path().c_str(), S_ISDIR(st.st_mode) ? 0755 : 0644);
  }
  ::chmod(root.c_str(), 0755);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    constexpr uid_t kNobody = 65534;
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(1);
    const std::string reply = body();
    ::ssize_t ignored = ::write(pipeFds[1], reply.data(), reply.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string reply;
  char buffer[4096];
  for (::ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) reply.append(buffer, n);
  ::close(pipeFds[0]);
  ::waitpid(child, nullptr, 0);
  return reply;
}

// One bad entry never hides the rest: each is listed with the reason, the good file too.
TEST_F(BucketTest, BadEntriesAreListedWithTheirReason) {
  struct Case {
    std::string name;
    std::function<void(const fs::path&)> make;
    std::string problem;  // part of the reason given
    bool folder;
  };
  const std::vector<Case> cases = {
      {"gone.csv", [](const fs::path& p) { fs::create_symlink(p.parent_path() / "nowhere", p); },
       "not there", false},
      {"self.csv", [](const fs::path& p) { fs::create_symlink(p, p); }, "symbolic links", false},
      {"up", [](const fs::path& p) { fs::create_directory_symlink(p.parent_path(), p); },
       "link back", true},
      {"locked",
       [](const fs::path& p) {
         writeFile(p / "hidden.csv", "a\n1\n");
         ::chmod(p.c_str(), 0);
       },
       "Permission denied", true},
      {"bad\xff.csv", [](const fs::path& p) { writeFile(p, "a\n1\n"); }, "not valid UTF-8", false},
      {"bad\xfe dir", [](const fs::path& p) { writeFile(p / "f.csv", "a\n1\n"); },
       "not valid UTF-8", true},
  };
  writeFile(data / "ok.csv", "a\n1\n");
  for (const auto& c : cases) c.make(data / c.name);
  setBucket(data);
  json tree = json::parse(asOrdinaryUser(root, [&] { return call("listBucketCpp"); }));
  ASSERT_TRUE(tree.contains("children")) << tree;
  bool okListed = false;
  for (const auto& node : tree["children"]) {
    okListed = okListed || (node["name"] == "ok.csv" && !node.contains("problem"));
  }
  EXPECT_TRUE(okListed) << tree;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    // As the reply spells it: bytes that are not UTF-8 replaced.
    const std::string shown =
        json::parse(json(c.name).dump(-1, ' ', false, json::error_handler_t::replace));
    bool found = false;
    for (const auto& node : tree["children"]) {
      if (node["name"] != shown) continue;
      found = true;
      EXPECT_EQ(node["type"], c.folder ? "dir" : "file");
      ASSERT_TRUE(node.contains("problem")) << node;
      EXPECT_NE(node["problem"].get<std::string>().find(c.problem), std::string::npos) << node;
      if (c.folder) {
        EXPECT_EQ(node["children"], json::array());
      }
    }
    EXPECT_TRUE(found) << tree;
  }
}

// A folder read whole whose parts cannot all be read says which were left out.
TEST_F(BucketTest, AFolderQueryNamesTheFoldersItCouldNotRead) {
  writeFile(data / "sales" / "a.csv", "n\n1\n");
  writeFile(data / "sales" / "locked" / "b.csv", "n\n2\n");
  ::chmod((data / "sales" / "locked").c_str(), 0);
  setBucket(data);
  const std::string pageCall = "read_csv('" + (data / "sales").string() + "/**/*.csv')";
  struct Case {
    std::string sql;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"SELECT SUM(n) AS s FROM read_csv('sales')",
       R"({"columns":["s"],"numericCols":[true],"rows":[["1"]],"unreadable":["sales/locked"]})"},
      {"SELECT SUM(n) AS s FROM " + pageCall,
       R"({"columns":["s"],"numericCols":[true],"rows":[["1"]],"unreadable":[")" +
           (data / "sales" / "locked").string() + R"("]})"},
      {"SELECT SUM(n) AS s FROM read_csv('sales/a.csv')",
       R"({"columns":["s"],"numericCols":[true],"rows":[["1"]]})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(asOrdinaryUser(root, [&] { return call("queryDuckCpp", args({c.sql})); }), c.reply);
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
  EXPECT_EQ(sub["children"][1]["problem"], "A link back to a folder it is in");
}

// Rounds of any size add up to the whole tree, links, loops and paths included.
TEST_F(BucketTest, ListingInRoundsAddsUpToTheWholeTree) {
  writeFile(root / "elsewhere" / "e.csv", "");
  writeFile(data / "sub" / "f.csv", "");
  writeFile(data / "sub" / "deeper" / "a" / "g.parquet", "");
  writeFile(data / "top.csv", "");
  fs::create_directories(data / "empty");
  fs::create_directory_symlink(root / "elsewhere", data / "linked");
  fs::create_directory_symlink(data, data / "sub" / "up");
  setBucket(data);
  json whole = callJson("listBucketCpp");
  // Fills the pending folders of `node` (at `path`) round by round, as the page does.
  int rounds = 0;
  std::function<void(json&, const std::string&, std::size_t)> complete =
      [&](json& node, const std::string& path, std::size_t limit) {
        for (auto& child : node["children"]) {
          if (child["type"] != "dir") continue;
          std::string name = child["name"];
          std::string childPath = path.empty() ? name : path + "/" + name;
          if (child.value("pending", false)) {
            json reply =
                callJson("listBucketCpp",
                         json::array({{{"limit", limit}, {"folders", {childPath}}}}).dump());
            ++rounds;
            ASSERT_EQ(reply["folders"].size(), 1u) << reply.dump();
            child = reply["folders"][0];
          }
          complete(child, childPath, limit);
        }
      };
  struct Case {
    std::size_t limit;
    bool pendingAtFirst;
  };
  for (const Case& c : {Case{0, true}, Case{5, true}, Case{8, true}, Case{1000, false}}) {
    json tree = callJson("listBucketCpp", json::array({{{"limit", c.limit}}}).dump());
    EXPECT_EQ(tree.dump().find("\"pending\":true") != std::string::npos, c.pendingAtFirst)
        << c.limit;
    EXPECT_EQ(childNames(tree), childNames(whole)) << "the first folder is always read whole";
    rounds = 0;
    complete(tree, "", c.limit);
    EXPECT_EQ(tree, whole) << c.limit;
    EXPECT_EQ(rounds > 0, c.pendingAtFirst) << c.limit;
  }

  // Several folders in one round: as many as the limit allows, in the order asked.
  auto round = [&](std::size_t limit, json folders) {
    return callJson("listBucketCpp",
                    json::array({{{"limit", limit}, {"folders", folders}}}).dump());
  };
  json both = round(100, {"sub/deeper", "linked"});
  ASSERT_EQ(both["folders"].size(), 2u);
  EXPECT_EQ(both["folders"][0]["children"][0]["children"][0]["path"], "sub/deeper/a/g.parquet");
  EXPECT_EQ(both["folders"][1]["children"][0]["path"], "../elsewhere/e.csv");
  EXPECT_EQ(round(0, {"sub/deeper", "linked"})["folders"].size(), 1u);
  EXPECT_EQ(round(0, {"sub/up"})["folders"][0]["problem"], "A link back to a folder it is in");
  for (const char* outside : {"../elsewhere", "/etc", "sub/../../elsewhere"}) {
    EXPECT_TRUE(round(100, {outside}).contains("error")) << outside;
  }
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
