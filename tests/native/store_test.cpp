// The configuration file and the three stores kept in it.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <future>

#include "store/config.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using StoreTest = NativeTest;

std::string nested(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

std::vector<fs::path> folderEntries(const fs::path& folder) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

class RecordsTest : public StoreTest {
 protected:
  std::vector<fs::path> corruptCopies() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(configFile().parent_path())) {
      if (e.path().filename().string().rfind("config.json.corrupt-", 0) == 0) {
        out.push_back(e.path());
      }
    }
    return out;
  }
};
using StoreShapeTest = RecordsTest;

// Deep or wrongly shaped records: nothing crashes, nothing balloons, nothing is dropped
// without a copy.
TEST_F(RecordsTest, RecordsStayWithinBoundsAndWrongShapesAreKept) {
  const std::string deepLayout = nested(100000);
  struct Case {
    std::string name;
    std::string file;    // the configuration before the call
    std::string callee;  // then this call
    std::string arguments;
    std::string reply;        // its exact reply ("" when any reply without an error will do)
    bool copyKept;            // the file as it was is kept as a .corrupt- copy
    std::string stillStored;  // a text the file holds afterwards
  };
  const std::string deepFile = R"({"dashboards":[{"name":"d","layout":)" + deepLayout + "}]}";
  const std::vector<Case> cases = {
      {"a file nesting 100,000 levels reads as empty", deepFile, "getDashboardsCpp", "[]", "[]",
       false, ""},
      {"and is kept before it is replaced", deepFile, "saveQueryCpp", args({"q", "SELECT 1"}),
       "\"ok\"", true, "SELECT 1"},
      {"a layout nesting 100,000 levels is refused", "{}", "saveDashboardCpp",
       args({"d", deepLayout}),
       R"({"error":"The layout or filters nest more than 61 levels deep"})", false, "{}"},
      {"so are filters nesting 62 levels", "{}", "saveDashboardCpp", args({"d", "[]", nested(62)}),
       R"({"error":"The layout or filters nest more than 61 levels deep"})", false, "{}"},
      {"a layout nesting 61 levels is saved", "{}", "saveDashboardCpp", args({"d", nested(61)}),
       R"({"ok":true})", false, "\"layout\": [\n"},
      {"saved queries that are not a list", R"({"savedQueries":{"old":"SELECT 1"}})",
       "saveQueryCpp", args({"new", "SELECT 2"}), "\"ok\"", true, "SELECT 2"},
      {"dashboards that are not a list", R"({"dashboards":{"old":{}}})", "saveDashboardCpp",
       args({"d", "[]"}), R"({"ok":true})", true, "\"d\""},
      {"a null list is no wrong shape", R"({"savedQueries":null})", "saveQueryCpp",
       args({"q", "x"}), "\"ok\"", false, "\"q\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeConfig(c.file);
    for (const auto& copy : corruptCopies()) fs::remove(copy);
    EXPECT_EQ(call(c.callee, c.arguments), c.reply);
    auto copies = corruptCopies();
    ASSERT_EQ(copies.size(), c.copyKept ? 1u : 0u);
    if (c.copyKept) {
      EXPECT_EQ(readFile(copies[0]), c.file);
    }
    const std::string after = readFile(configFile());
    EXPECT_NE(after.find(c.stillStored), std::string::npos) << after.substr(0, 200);
    EXPECT_TRUE(after == c.file || after.size() < 100000u) << after.size();
  }
  EXPECT_EQ(jsonTextNesting(R"({"a":"[[[{{","b":[1,[2]]})"), 3u);
  EXPECT_EQ(jsonNesting(json::parse(nested(5))), 5u);
}

// Writers at once, in threads and in another process: every acknowledged save is there.
TEST_F(StoreTest, SavesAtOnceLoseNothing) {
  constexpr int kPerWriter = 40;
  writeConfig("{}");
  auto saveMany = [this](const std::string& who) {
    for (int i = 0; i < kPerWriter; ++i) {
      if (call("saveQueryCpp", args({who + std::to_string(i), "SELECT 1"})) != "\"ok\"") {
        return false;
      }
    }
    return true;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(saveMany("process") ? 0 : 1);
  auto first = std::async(std::launch::async, saveMany, "thread-a");
  auto second = std::async(std::launch::async, saveMany, "thread-b");
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second.get());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(configJson()["savedQueries"].size(), 3u * kPerWriter);
}

TEST_F(StoreTest, TempFilesOfKilledSavesAreRemovedOnTheNextStart) {
  writeConfig(R"({"keep":"me"})");
  const fs::path folder = configFile().parent_path();
  struct Entry {
    std::string name;
    bool removed;
  };
  const std::vector<Entry> entries = {{"config.json.tmp-0123456789abcdef", true},
                                      {"config.json.tmp-", true},
                                      {"config.json.corrupt-20250101T000000Z", false},
                                      {"notes.tmp-1", false},
                                      {"config.json", false}};
  for (const auto& e : entries) {
    if (e.name != "config.json") writeFile(folder / e.name, "half a save");
  }
  EXPECT_EQ(removeLeftoverConfigFiles(), 2u);
  for (const auto& e : entries) EXPECT_EQ(fs::exists(folder / e.name), !e.removed) << e.name;
  EXPECT_EQ(readFile(configFile()), R"({"keep":"me"})");
}

mode_t modeOf(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

TEST_F(StoreTest, CleanAccountReadsEmptyAndCreatesNothing) {
  EXPECT_EQ(call("getBucketPathCpp"), "\"\"");
  EXPECT_EQ(call("getSavedQueriesCpp"), "[]");
  EXPECT_EQ(call("getDashboardsCpp"), "[]");
  EXPECT_EQ(call("deleteDashboardCpp", args({"none"})), R"({"ok":true})");
  EXPECT_TRUE(fs::is_empty(home));
  // Argument-free functions ignore whatever they are given.
  EXPECT_EQ(call("getSavedQueriesCpp", "not json at all"), "[]");
  EXPECT_EQ(call("getBucketPathCpp", "[1,2]"), "\"\"");
}

TEST_F(StoreTest, FileFormatIsSortedIndentedUtf8WithoutFinalNewline) {
  writeConfig(R"({"zeta":{"b":1,"a":[true,{"y":2,"x":1}]},"savedQueries":[]})");
  EXPECT_EQ(call("setBucketPathCpp", args({"/data/Zürich"})), "\"ok\"");
  EXPECT_EQ(readFile(configFile()),
            "{\n"
            "  \"bucketPath\": \"/data/Zürich\",\n"
            "  \"savedQueries\": [],\n"
            "  \"zeta\": {\n"
            "    \"a\": [\n"
            "      true,\n"
            "      {\n"
            "        \"x\": 1,\n"
            "        \"y\": 2\n"
            "      }\n"
            "    ],\n"
            "    \"b\": 1\n"
            "  }\n"
            "}");
  EXPECT_EQ(call("getBucketPathCpp"), "\"/data/Zürich\"");
  // The empty text is stored as it is; extra arguments are ignored.
  EXPECT_EQ(call("setBucketPathCpp", args({"", "ignored"})), "\"ok\"");
  EXPECT_EQ(configJson()["bucketPath"], "");
  EXPECT_EQ(configJson()["zeta"]["b"], 1);
}

TEST_F(StoreTest, WritesReplaceTheFileAtomicallyAndLeaveNoTempFiles) {
  writeConfig(R"({"keep":"me"})");
  std::ifstream before(configFile());  // a reader of the old file keeps the old content
  ASSERT_EQ(call("saveQueryCpp", args({"q", "SELECT 1"})), "\"ok\"");
  std::string oldContent((std::istreambuf_iterator<char>(before)), {});
  EXPECT_EQ(oldContent, R"({"keep":"me"})");
  json expected = {{"keep", "me"}, {"savedQueries", {{{"name", "q"}, {"sql", "SELECT 1"}}}}};
  EXPECT_EQ(readFile(configFile()), expected.dump(2));
  EXPECT_EQ(folderEntries(configFile().parent_path()), std::vector<fs::path>{"config.json"});
}

TEST_F(StoreTest, ConfigurationKeptElsewhereThroughALinkIsWrittenThrough) {
  fs::path real = root / "dotfiles" / "plinthos.json";
  writeFile(real, "{}");
  fs::create_directories(configFile().parent_path());
  fs::create_symlink(real, configFile());
  ASSERT_EQ(call("setBucketPathCpp", args({"/d"})), "\"ok\"");
  EXPECT_TRUE(fs::is_symlink(configFile()));
  EXPECT_EQ(json::parse(readFile(real))["bucketPath"], "/d");
}

TEST_F(StoreTest, EarlierFilesAreCopiedWhileTheNewOneIsMissing) {
  const std::string mac = R"({"bucketPath":"/mac","savedQueries":[{"name":"a","sql":"s"}],)"
                          R"("dashboards":[{"name":"d","layout":[]}]})";
  const std::string legacy = R"({"bucketPath":"/legacy"})";
  struct Case {
    const char* what;
    bool withMac, withLegacy;
    std::string expected;  // the stored folder afterwards
  };
  for (const Case& c :
       {Case{"only the macOS place", true, false, "/mac"},
        Case{"only the legacy folder", false, true, "/legacy"},
        Case{"both: the newer one wins", true, true, "/mac"}, Case{"neither", false, false, ""}}) {
    SCOPED_TRACE(c.what);
    fs::remove_all(home);
    fs::create_directories(home);
    if (c.withMac) writeFile(macFile(), mac);
    if (c.withLegacy) writeFile(legacyFile(), legacy);
    EXPECT_EQ(call("getBucketPathCpp"), json(c.expected).dump());
    if (c.expected.empty()) {
      EXPECT_FALSE(fs::exists(home / ".config"));
      continue;
    }
    EXPECT_EQ(readFile(configFile()), c.withMac ? mac : legacy);  // byte for byte
    EXPECT_EQ(modeOf(configFile()), 0600u);
    EXPECT_EQ(modeOf(configFile().parent_path()), 0700u);
    EXPECT_EQ(modeOf(home / ".config"), 0700u);

    ASSERT_EQ(call("setBucketPathCpp", args({"/new"})), "\"ok\"");
    if (c.withMac) {
      EXPECT_EQ(readFile(macFile()), mac);  // never changed
    }
    if (c.withLegacy) {
      EXPECT_EQ(readFile(legacyFile()), legacy);
    }
    fs::remove(configFile());
    EXPECT_EQ(call("getBucketPathCpp"), json(c.expected).dump());  // carried over again
  }
  // Once the new file is there, the old ones are not read.
  writeConfig(R"({"bucketPath":"/current"})");
  EXPECT_EQ(call("getBucketPathCpp"), "\"/current\"");
}

TEST_F(StoreTest, SettingsFolderFollowsAnAbsoluteXdgConfigHome) {
  struct Case {
    const char* value;
    fs::path expected;
  };
  const fs::path elsewhere = root / "xdg";
  for (const Case& c :
       {Case{nullptr, configFile()}, Case{"", configFile()}, Case{"relative/place", configFile()},
        Case{elsewhere.c_str(), elsewhere / "plinthos" / "config.json"}}) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value) {
      ::setenv("XDG_CONFIG_HOME", c.value, 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_EQ(configFilePath(), c.expected.string());
    ASSERT_EQ(call("setBucketPathCpp", args({"/x"})), "\"ok\"");
    EXPECT_EQ(json::parse(readFile(c.expected))["bucketPath"], "/x");
    fs::remove_all(c.expected.parent_path());
  }
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(StoreTest, UnreadableFilesReadAsEmptyAndAreKeptBeforeBeingReplaced) {
  writeConfig("");
  EXPECT_EQ(call("getBucketPathCpp"), "\"\"");
  ASSERT_EQ(call("setBucketPathCpp", args({"/a"})), "\"ok\"");
  EXPECT_EQ(readFile(configFile()), "{\n  \"bucketPath\": \"/a\"\n}");
  // Nothing was lost, so nothing is kept.
  EXPECT_EQ(folderEntries(configFile().parent_path()).size(), 1u);

  for (const std::string broken : {R"({"bucketPath": "/x",})", R"(["not", "an", "object"])"}) {
    writeConfig(broken);
    EXPECT_EQ(call("getBucketPathCpp"), "\"\"");
    EXPECT_EQ(call("getSavedQueriesCpp"), "[]");
    ASSERT_EQ(call("saveQueryCpp", args({"q", "s"})), "\"ok\"");
  }
  std::vector<std::string> copies;
  for (const auto& name : folderEntries(configFile().parent_path())) {
    if (name.string().rfind("config.json.corrupt-", 0) == 0) {
      copies.push_back(readFile(configFile().parent_path() / name));
    }
  }
  std::sort(copies.begin(), copies.end());
  EXPECT_EQ(copies,
            (std::vector<std::string>{R"(["not", "an", "object"])", R"({"bucketPath": "/x",})"}));
  EXPECT_EQ(configJson(), (json{{"savedQueries", {{{"name", "q"}, {"sql", "s"}}}}}));
}

TEST_F(StoreTest, FailedWritesAreReportedNotAnsweredWithSuccess) {
  // The configuration folder's place is taken by a file: nothing can be written there.
  fs::create_directories(configFile().parent_path().parent_path());
  writeFile(configFile().parent_path(), "in the way");
  const std::string expected = R"({"error":"Could not save the configuration: Not a directory"})";
  EXPECT_EQ(call("setBucketPathCpp", args({"/a"})), expected);
  EXPECT_EQ(call("saveQueryCpp", args({"q", "s"})), expected);
  EXPECT_EQ(call("deleteQueryCpp", args({"q"})), expected);
  EXPECT_EQ(call("saveDashboardCpp", args({"d", "[]"})), expected);
  EXPECT_EQ(call("getBucketPathCpp"), "\"\"");
  EXPECT_EQ(readFile(configFile().parent_path()), "in the way");

  // A configuration that exists but cannot be read is never replaced by an empty one.
  fs::remove(configFile().parent_path());
  fs::create_directories(configFile() / "keep");
  EXPECT_EQ(call("saveQueryCpp", args({"q", "s"})),
            R"({"error":"Could not save the configuration: the existing file cannot be read: )"
            R"(Is a directory"})");
  EXPECT_TRUE(fs::is_directory(configFile() / "keep"));
}

TEST_F(StoreTest, HomeFallsBackToTheAccountWhenUnsetOrEmpty) {
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  ::unsetenv("HOME");
  EXPECT_EQ(homeFolder(), std::string(pw->pw_dir));
  ::setenv("HOME", "", 1);
  EXPECT_EQ(homeFolder(), std::string(pw->pw_dir));
}

TEST_F(StoreShapeTest, ValuesOfTheWrongTypeNeverBreakTheStore) {
  writeConfig(R"({"bucketPath":42,"savedQueries":{"name":"x"},"dashboards":"nope"})");
  EXPECT_EQ(call("getBucketPathCpp"), "\"\"");
  EXPECT_EQ(call("getSavedQueriesCpp"), "[]");
  EXPECT_EQ(call("getDashboardsCpp"), "[]");
  EXPECT_EQ(call("deleteDashboardCpp", args({"x"})), R"({"ok":true})");
  ASSERT_EQ(call("saveQueryCpp", args({"q", "s"})), "\"ok\"");  // the odd value is replaced
  EXPECT_EQ(configJson()["savedQueries"], (json{{{"name", "q"}, {"sql", "s"}}}));
  fs::remove(corruptCopies().at(0));

  // Records that are not objects with a text name stay in the file but are not served.
  writeConfig(R"({"savedQueries":[7,{"sql":"no name"},{"name":1},{"name":"ok","sql":"s"}],)"
              R"("dashboards":[null,{"name":"d","layout":[]}]})");
  EXPECT_EQ(call("getSavedQueriesCpp"), R"([{"name":"ok","sql":"s"}])");
  EXPECT_EQ(call("getDashboardsCpp"), R"([{"layout":[],"name":"d"}])");
  ASSERT_EQ(call("saveQueryCpp", args({"new", "t"})), "\"ok\"");
  ASSERT_EQ(call("deleteQueryCpp", args({"ok"})), "\"ok\"");
  EXPECT_EQ(configJson()["savedQueries"],
            json::parse(R"([7,{"sql":"no name"},{"name":1},{"name":"new","sql":"t"}])"));
}

TEST_F(StoreTest, SavedQueriesKeepOrderAndAreFoundByExactName) {
  ASSERT_EQ(call("saveQueryCpp", args({"Sales", "SELECT 1"})), "\"ok\"");
  ASSERT_EQ(call("saveQueryCpp", args({"Costs", "SELECT 2"})), "\"ok\"");
  ASSERT_EQ(call("saveQueryCpp", args({"sales", "SELECT 3"})), "\"ok\"");
  ASSERT_EQ(call("saveQueryCpp", args({"Sales", "SELECT 'ü'", "extra"})), "\"ok\"");
  EXPECT_EQ(call("getSavedQueriesCpp"),
            R"([{"name":"Sales","sql":"SELECT 'ü'"},{"name":"Costs","sql":"SELECT 2"},)"
            R"({"name":"sales","sql":"SELECT 3"}])");
  ASSERT_EQ(call("deleteQueryCpp", args({"Costs"})), "\"ok\"");
  ASSERT_EQ(call("deleteQueryCpp", args({"missing"})), "\"ok\"");
  EXPECT_EQ(callJson("getSavedQueriesCpp").size(), 2u);
}

TEST_F(StoreTest, SavedQueriesWithDuplicatesOtherMembersAndNull) {
  writeConfig(R"({"savedQueries":[{"name":"a","sql":"1","note":"n"},{"name":"a","sql":"2"},)"
              R"({"name":"b","sql":"3"}]})");
  ASSERT_EQ(call("saveQueryCpp", args({"a", "new"})), "\"ok\"");
  EXPECT_EQ(call("getSavedQueriesCpp"),
            R"([{"name":"a","note":"n","sql":"new"},{"name":"a","sql":"2"},)"
            R"({"name":"b","sql":"3"}])");
  ASSERT_EQ(call("deleteQueryCpp", args({"a"})), "\"ok\"");
  EXPECT_EQ(call("getSavedQueriesCpp"), R"([{"name":"b","sql":"3"}])");

  writeConfig("{}");
  ASSERT_EQ(call("deleteQueryCpp", args({"a"})), "\"ok\"");
  EXPECT_EQ(readFile(configFile()), "{\n  \"savedQueries\": null\n}");
  EXPECT_EQ(call("getSavedQueriesCpp"), "null");
  ASSERT_EQ(call("saveQueryCpp", args({"q", "s"})), "\"ok\"");
  EXPECT_EQ(call("getSavedQueriesCpp"), R"([{"name":"q","sql":"s"}])");
}

TEST_F(StoreTest, DashboardsTakeDefaultsAndReplaceInPlace) {
  ASSERT_EQ(call("saveDashboardCpp", args({"one", R"([{"cells":[]},{"cells":[]}])"})),
            R"({"ok":true})");
  EXPECT_EQ(call("getDashboardsCpp"),
            R"([{"fileType":"csv","filters":[],"layout":[{"cells":[]},{"cells":[]}],)"
            R"("name":"one","pathToFiles":""}])");
  ASSERT_EQ(call("saveDashboardCpp", args({"two", "[]", "", "", ""})).substr(0, 9),
            R"({"error":)");  // an empty filters text is not JSON
  ASSERT_EQ(call("saveDashboardCpp", args({"two", "[]", "[1]", "", ""})), R"({"ok":true})");
  ASSERT_EQ(call("saveDashboardCpp", args({"one", "{}", R"([{"column":"c"}])", "/p", "parquet"})),
            R"({"ok":true})");
  EXPECT_EQ(call("getDashboardsCpp"),
            R"([{"fileType":"parquet","filters":[{"column":"c"}],"layout":{},"name":"one",)"
            R"("pathToFiles":"/p"},{"fileType":"","filters":[1],"layout":[],"name":"two",)"
            R"("pathToFiles":""}])");
  EXPECT_NE(readFile(configFile()).find("      \"fileType\": \"parquet\",\n      \"filters\": ["),
            std::string::npos);
  // undefined from the page arrives as null and counts as not sent.
  ASSERT_EQ(call("saveDashboardCpp", R"(["two","[]",null,null,null])"), R"({"ok":true})");
  EXPECT_EQ(callJson("getDashboardsCpp")[1]["fileType"], "csv");
}

TEST_F(StoreTest, DashboardDeletionAndDuplicates) {
  EXPECT_EQ(call("deleteDashboardCpp", args({"none"})), R"({"ok":true})");
  EXPECT_FALSE(fs::exists(configFile()));  // not even created
  writeConfig(R"({"dashboards":[{"name":"d","layout":1,"x":"kept"},{"name":"d","layout":2}]})");
  ASSERT_EQ(call("saveDashboardCpp", args({"d", "3"})), R"({"ok":true})");
  json stored = configJson()["dashboards"];
  EXPECT_EQ(stored[0]["layout"], 3);
  EXPECT_EQ(stored[0]["x"], "kept");
  EXPECT_EQ(stored[1]["layout"], 2);
  ASSERT_EQ(call("deleteDashboardCpp", args({"d"})), R"({"ok":true})");
  EXPECT_EQ(call("getDashboardsCpp"), "[]");
}

TEST_F(StoreTest, CallsOutsideTheContractAnswerAnErrorAndChangeNothing) {
  writeConfig(R"({"bucketPath":"/keep"})");
  EXPECT_EQ(call("setBucketPathCpp", "{}"),
            R"({"error":"Invalid arguments: expected a JSON array"})");
  EXPECT_EQ(call("setBucketPathCpp", "[1]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
  EXPECT_EQ(call("setBucketPathCpp", "[\"a\",]"),
            R"({"error":"Invalid arguments: expected a JSON array"})");  // strict parsing
  EXPECT_EQ(call("saveQueryCpp", args({"only a name"})),
            R"({"error":"Invalid arguments: expected text as argument 2"})");
  EXPECT_EQ(call("deleteQueryCpp", "[]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
  EXPECT_EQ(call("saveDashboardCpp", R"(["d","[]",[]])"),
            R"({"error":"Invalid arguments: expected text as argument 3"})");
  EXPECT_EQ(call("deleteDashboardCpp", "[null]"),
            R"({"error":"Invalid arguments: expected text as argument 1"})");
  json bad = callJson("saveDashboardCpp", args({"d", "[1,"}));
  EXPECT_EQ(bad["error"].get<std::string>().rfind("The layout is not valid JSON: ", 0), 0u);
  bad = callJson("saveDashboardCpp", args({"d", "[]", "{"}));
  EXPECT_EQ(bad["error"].get<std::string>().rfind("The filters are not valid JSON: ", 0), 0u);
  EXPECT_EQ(readFile(configFile()), R"({"bucketPath":"/keep"})");
}

// A new configuration file and its folders are the owner's alone whatever the umask, which stays
// as it was; a replaced file keeps its own mode, an existing folder its own.
TEST_F(StoreTest, NewFilesAndFoldersAreOwnerOnlyWithoutChangingTheUmask) {
  const mode_t before = ::umask(022);
  for (const mode_t mask : {022, 077, 002, 0}) {
    ::umask(mask);
    fs::remove_all(home / ".config");
    ASSERT_EQ(call("setBucketPathCpp", args({"/a"})), "\"ok\"");
    EXPECT_EQ(modeOf(configFile()), 0600u) << std::oct << mask;
    EXPECT_EQ(modeOf(configFile().parent_path()), 0700u) << std::oct << mask;
    EXPECT_EQ(modeOf(home / ".config"), 0700u) << std::oct << mask;
    EXPECT_EQ(::umask(mask), mask);
  }
  ::chmod(configFile().c_str(), 0640);
  ::chmod(configFile().parent_path().c_str(), 0750);
  ASSERT_EQ(call("saveQueryCpp", args({"q", "s"})), "\"ok\"");
  EXPECT_EQ(modeOf(configFile()), 0640u);
  EXPECT_EQ(modeOf(configFile().parent_path()), 0750u);
  ::umask(before);
}

}  // namespace
}  // namespace plinthos::test
