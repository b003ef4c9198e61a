// The command line: parsing, opening a folder given there, and what reaches the page.
#include "app/command_line.h"

#include <sstream>

#include "test_support.h"

namespace plinthos::test {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineParse, EachFormOfTheArguments) {
  struct Case {
    std::vector<std::string> args;
    Action action;
    std::optional<std::string> folder;
    std::string error;
  };
  const Case cases[] = {
      {{}, Action::Run, std::nullopt, ""},
      {{"/data"}, Action::Run, "/data", ""},
      {{"relative/dir"}, Action::Run, "relative/dir", ""},
      {{"-"}, Action::Run, "-", ""},
      {{"--", "-odd name"}, Action::Run, "-odd name", ""},
      {{"--version"}, Action::PrintVersion, std::nullopt, ""},
      {{"/data", "--version"}, Action::PrintVersion, std::nullopt, ""},
      {{"-h"}, Action::PrintHelp, std::nullopt, ""},
      {{"--help"}, Action::PrintHelp, std::nullopt, ""},
      {{"--verbose"}, Action::UsageError, std::nullopt, "plinthos: unknown option --verbose"},
      {{"a", "b"}, Action::UsageError, std::nullopt, "plinthos: only one folder can be opened"},
  };
  for (const Case& c : cases) {
    const CommandLine line = parseCommandLine(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.folder, c.folder);
    EXPECT_EQ(line.error, c.error);
  }
}

class CommandLineFolder : public NativeTest {};

TEST_F(CommandLineFolder, ReadableFoldersAreStoredAbsoluteAndNormal) {
  fs::create_directories(data / "sub");
  struct Case {
    std::string given;
    fs::path cwd;
    fs::path stored;
  };
  const Case cases[] = {
      {data.string(), "/", data},        {data.string() + "/", "/", data},
      {"sub", data, data / "sub"},       {"./sub/../sub/", data, data / "sub"},
      {".", data / "sub", data / "sub"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    EXPECT_EQ(openFolderFromCommandLine(c.given, c.cwd), std::nullopt);
    EXPECT_EQ(configJson()["bucketPath"], c.stored.string());
  }
  // Stored as if chosen: the listing shows it.
  writeFile(data / "sub" / "sales.csv", "a\n1\n");
  const json tree = callJson("listBucketCpp");
  EXPECT_EQ(tree["bucketPath"], (data / "sub").string());
  EXPECT_EQ(tree["children"][0]["name"], "sales.csv");
}

TEST_F(CommandLineFolder, AnythingElseLeavesTheStoredFolderAndSaysWhy) {
  setBucket(data);
  writeFile(data / "notes.txt", "x");
  struct Case {
    std::string given;
    std::string reason;
  };
  const Case cases[] = {
      {(root / "missing").string(), "No such file or directory"},
      {"missing", "No such file or directory"},
      {(data / "notes.txt").string(), "Not a directory"},
      {"", "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    EXPECT_EQ(
        openFolderFromCommandLine(c.given, root),
        "Could not open the folder \"" + c.given + "\" given on the command line: " + c.reason);
    EXPECT_EQ(configJson()["bucketPath"], data.string());
  }
  if (::geteuid() != 0) {  // root reads every folder
    fs::create_directories(data / "locked");
    fs::permissions(data / "locked", fs::perms::none);
    EXPECT_EQ(openFolderFromCommandLine((data / "locked").string(), root),
              "Could not open the folder \"" + (data / "locked").string() +
                  "\" given on the command line: Permission denied");
  }
}

TEST_F(CommandLineFolder, StartupPrintsOrCarriesTheNotice) {
  setBucket(data);
  struct Case {
    std::vector<std::string> args;
    std::optional<int> exitCode;
    std::string out, errStart;
    bool script;
  };
  const Case cases[] = {
      {{"--version"}, 0, "Plinthos 9.8.7\n", "", false},
      {{"--help"}, 0, cli::kUsage, "", false},
      {{"-x"}, 2, "", "plinthos: unknown option -x\nUsage: plinthos [FOLDER]", false},
      {{}, std::nullopt, "", "", false},
      {{data.string()}, std::nullopt, "", "", false},
      {{(root / "gone").string()}, std::nullopt, "", "Could not open the folder", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::ostringstream out, err;
    const Startup startup = startFromCommandLine(c.args, "9.8.7", out, err);
    EXPECT_EQ(startup.exitCode, c.exitCode);
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(err.str().rfind(c.errStart, 0), 0u) << err.str();
    EXPECT_EQ(!startup.initScript.empty(), c.script);
    EXPECT_EQ(configJson()["bucketPath"], data.string());
  }
}

TEST(CommandLineNotice, ScriptHoldsTheTextAsOneStringLiteral) {
  const std::string prefix = "window.plinthosStartupNotice = ";
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"quote \" and \\ and </script><b>", "quote \" and \\ and </script><b>"},
      {"bad \xff byte", "bad \xEF\xBF\xBD byte"},
  };
  for (const auto& [text, decoded] : cases) {
    const std::string script = startupNoticeScript(text);
    ASSERT_EQ(script.rfind(prefix, 0), 0u) << script;
    ASSERT_EQ(script.back(), ';');
    const auto literal = script.substr(prefix.size(), script.size() - prefix.size() - 1);
    EXPECT_EQ(json::parse(literal), decoded);
  }
}

}  // namespace
}  // namespace plinthos::test
