#include "app/command_line.h"

#include <nlohmann/json.hpp>
#include <system_error>
#include <variant>

#include "store/config.h"

namespace plinthos {

namespace fs = std::filesystem;
using nlohmann::json;

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
        continue;
      }
      if (arg == "--version") return {CommandLine::Action::PrintVersion, std::nullopt, ""};
      if (arg == "-h" || arg == "--help") return {CommandLine::Action::PrintHelp, std::nullopt, ""};
      if (arg == "--choose-folder") {
        line.chooseFolder = true;
        continue;
      }
      return {CommandLine::Action::UsageError, std::nullopt, cli::kUnknownOption + arg};
    }
    if (line.folder) return {CommandLine::Action::UsageError, std::nullopt, cli::kTooManyFolders};
    line.folder = arg;
  }
  if (line.folder && line.chooseFolder) {
    return {CommandLine::Action::UsageError, std::nullopt, cli::kChooseTakesNoFolder};
  }
  return line;
}

namespace {

// Absolute and without "." or "..", and without a trailing slash: the listing names its root
// after the last component.
fs::path absoluteFolder(const std::string& given, const fs::path& cwd) {
  fs::path p = fs::path(given).is_absolute() ? fs::path(given) : cwd / given;
  p = p.lexically_normal();
  if (!p.has_filename() && p != p.root_path()) p = p.parent_path();
  return p;
}

std::string notice(const std::string& given, const std::string& reason) {
  return cli::kNoticeStart + given + cli::kNoticeMiddle + reason;
}

}  // namespace

namespace {

// The absolute folder to store, or the notice saying why it cannot be.
std::variant<fs::path, std::string> checkFolder(const std::string& given,
                                                const std::optional<fs::path>& cwd) {
  // An empty name would stand for the current folder; it names no folder at all.
  if (given.empty()) {
    return notice(given, std::make_error_code(std::errc::no_such_file_or_directory).message());
  }
  // A relative path means nothing once the current folder is gone.
  if (!cwd && fs::path(given).is_relative()) {
    return notice(given, std::make_error_code(std::errc::no_such_file_or_directory).message());
  }
  const fs::path folder = absoluteFolder(given, cwd ? *cwd : fs::path("/"));
  std::error_code ec;
  // Opening it for listing is the test the Query page's listing will meet.
  fs::directory_iterator probe(folder, ec);
  if (ec) return notice(given, ec.message());
  try {
    (void)json(folder.string()).dump();  // the configuration holds only text that is UTF-8
  } catch (const json::exception&) {
    return notice(given, cli::kNameNotText);
  }
  return folder;
}

// Calls `function` once the page has it, trying every kPollMs for kPollTries.
constexpr int kPollMs = 100;
constexpr int kPollTries = 150;
std::string whenPageHas(const std::string& function, const std::string& body) {
  return "(function plinthosWhenReady(tries) { try { if (typeof " + function +
         " === 'function') { " + body +
         " } else if (tries > 0) { setTimeout(() => plinthosWhenReady(tries - 1), " +
         std::to_string(kPollMs) + "); } } catch (e) { console.error(e); } })(" +
         std::to_string(kPollTries) + ");";
}

// The shell page's own tab switch, where it is there.
constexpr const char* kShowQueryTab = "if (typeof loadTab === 'function') loadTab('bucket'); ";

}  // namespace

std::optional<std::string> givenFolderProblem(const std::string& given,
                                              const std::optional<fs::path>& cwd) {
  auto checked = checkFolder(given, cwd);
  if (auto* problem = std::get_if<std::string>(&checked)) return *problem;
  return std::nullopt;
}

std::optional<std::string> openGivenFolder(const std::string& given,
                                           const std::optional<fs::path>& cwd) {
  auto checked = checkFolder(given, cwd);
  if (auto* problem = std::get_if<std::string>(&checked)) return *problem;
  const fs::path& folder = std::get<fs::path>(checked);
  auto stored = setBucketPath(folder.string());
  if (auto* failed = std::get_if<Failure>(&stored)) return notice(given, failed->message);
  return std::nullopt;
}

std::optional<std::string> openFolderFromCommandLine(const std::string& given,
                                                     const fs::path& cwd) {
  return openGivenFolder(given, cwd);
}

// The Query page publishes these three for the native side.
std::string reloadFolderScript() {
  return whenPageHas("window.plinthosOpenFolder",
                     std::string(kShowQueryTab) + "window.plinthosOpenFolder();");
}

std::string showNoticeScript(const std::string& notice) {
  return whenPageHas(
      "window.plinthosShowNotice",
      std::string(kShowQueryTab) + "window.plinthosShowNotice(" + compactJson(json(notice)) + ");");
}

std::string chooseFolderScript() {
  return whenPageHas("window.plinthosChooseFolder",
                     std::string(kShowQueryTab) + "window.plinthosChooseFolder();");
}

std::string startupNoticeScript(const std::string& notice) {
  // A JSON string is a script literal; bytes that are not UTF-8 become U+FFFD.
  return "window.plinthosStartupNotice = " + compactJson(json(notice)) + ";";
}

std::optional<int> answerWithoutWindow(const CommandLine& line, const std::string& version,
                                       std::ostream& out, std::ostream& err) {
  switch (line.action) {
    case CommandLine::Action::PrintVersion:
      out << "Plinthos " << version << "\n";
      return 0;
    case CommandLine::Action::PrintHelp:
      out << cli::kUsage;
      return 0;
    case CommandLine::Action::UsageError:
      err << line.error << "\n" << cli::kUsage;
      return cli::kUsageExitCode;
    case CommandLine::Action::Run:
      break;
  }
  return std::nullopt;
}

std::string openFromCommandLine(const CommandLine& line, std::ostream& err) {
  std::string script = line.chooseFolder ? chooseFolderScript() : "";
  if (!line.folder) return script;
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  const auto problem = openGivenFolder(*line.folder, ec ? std::nullopt : std::optional(cwd));
  if (!problem) return script;
  // Said in the terminal too, for whoever started it from one.
  err << *problem << "\n";
  return startupNoticeScript(*problem) + script;
}

Startup startFromCommandLine(const std::vector<std::string>& args, const std::string& version,
                             std::ostream& out, std::ostream& err) {
  const CommandLine line = parseCommandLine(args);
  if (auto code = answerWithoutWindow(line, version, out, err)) return {code, ""};
  return {std::nullopt, openFromCommandLine(line, err)};
}

}  // namespace plinthos
