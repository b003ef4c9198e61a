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
      {{"--choose-folder"}, Action::Run, std::nullopt, ""},
      {{"--choose-folder", "/d"},
       Action::UsageError,
       std::nullopt,
       "plinthos: --choose-folder takes no folder"},
      {{"--", "--choose-folder"}, Action::Run, "--choose-folder", ""},
  };
  for (const Case& c : cases) {
    const CommandLine line = parseCommandLine(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.folder, c.folder);
    EXPECT_EQ(line.error, c.error);
    EXPECT_EQ(line.chooseFolder, c.args == std::vector<std::string>{"--choose-folder"});
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

// What a second start hands to the running one: checked there without storing, opened here
// against the folder it was given in, or only by an absolute name when that folder is gone.
TEST_F(CommandLineFolder, HandedOverFoldersAreCheckedAgainstTheirOwnFolder) {
  setBucket(data);
  fs::create_directories(root / "elsewhere" / "sub");
  struct Case {
    std::string given;
    std::optional<fs::path> cwd;
    std::optional<fs::path> stored;  // nullopt: a notice, and the stored folder is kept
  };
  const Case cases[] = {
      {"sub", root / "elsewhere", root / "elsewhere" / "sub"},
      {(root / "elsewhere").string(), std::nullopt, root / "elsewhere"},
      {"sub", std::nullopt, std::nullopt},
      {"missing", root, std::nullopt},
      {"", root, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    setBucket(data);
    EXPECT_EQ(givenFolderProblem(c.given, c.cwd).has_value(), !c.stored);
    EXPECT_EQ(configJson()["bucketPath"], data.string());  // checking stores nothing
    const auto problem = openGivenFolder(c.given, c.cwd);
    EXPECT_EQ(problem.has_value(), !c.stored);
    if (problem) {
      EXPECT_EQ(problem->rfind("Could not open the folder \"" + c.given + "\"", 0), 0u);
    }
    EXPECT_EQ(configJson()["bucketPath"], (c.stored ? *c.stored : data).string());
  }
}

TEST(CommandLineWindow, AnswersThatNeedNoWindowAndScriptsForTheRunningOne) {
  std::ostringstream out, err;
  EXPECT_EQ(answerWithoutWindow(parseCommandLine({"--version"}), "1.2.3", out, err), 0);
  EXPECT_EQ(answerWithoutWindow(parseCommandLine({"--choose-folder", "x"}), "1", out, err), 2);
  EXPECT_EQ(answerWithoutWindow(parseCommandLine({"/d"}), "1", out, err), std::nullopt);
  EXPECT_EQ(out.str(), "Plinthos 1.2.3\n");
  EXPECT_EQ(err.str().rfind("plinthos: --choose-folder takes no folder\n", 0), 0u);

  // Each script waits for the page function it calls; a notice stays one string literal.
  const std::pair<std::string, std::string> scripts[] = {
      {reloadFolderScript(), "window.plinthosOpenFolder();"},
      {chooseFolderScript(), "window.plinthosChooseFolder();"},
      {showNoticeScript("a \"quote\" </script>"),
       R"(window.plinthosShowNotice("a \"quote\" </script>");)"},
  };
  for (const auto& [script, call] : scripts) {
    SCOPED_TRACE(script);
    EXPECT_NE(script.find(call), std::string::npos);
    EXPECT_NE(script.find("setTimeout"), std::string::npos);
    EXPECT_NE(script.find("loadTab('bucket')"), std::string::npos);
  }
  std::ostringstream quiet;
  EXPECT_EQ(openFromCommandLine(parseCommandLine({"--choose-folder"}), quiet),
            chooseFolderScript());
  EXPECT_EQ(openFromCommandLine(parseCommandLine({}), quiet), "");
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
