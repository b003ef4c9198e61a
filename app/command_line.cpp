#include "app/command_line.h"

#include <nlohmann/json.hpp>
#include <system_error>

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
      return {CommandLine::Action::UsageError, std::nullopt, cli::kUnknownOption + arg};
    }
    if (line.folder) return {CommandLine::Action::UsageError, std::nullopt, cli::kTooManyFolders};
    line.folder = arg;
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

std::optional<std::string> openFolderFromCommandLine(const std::string& given,
                                                     const fs::path& cwd) {
  // An empty name would stand for the current folder; it names no folder at all.
  if (given.empty()) {
    return notice(given, std::make_error_code(std::errc::no_such_file_or_directory).message());
  }
  const fs::path folder = absoluteFolder(given, cwd);
  std::error_code ec;
  // Opening it for listing is the test the Query page's listing will meet.
  fs::directory_iterator probe(folder, ec);
  if (ec) return notice(given, ec.message());
  try {
    (void)json(folder.string()).dump();  // the configuration holds only text that is UTF-8
  } catch (const json::exception&) {
    return notice(given, cli::kNameNotText);
  }
  auto stored = setBucketPath(folder.string());
  if (auto* failed = std::get_if<Failure>(&stored)) return notice(given, failed->message);
  return std::nullopt;
}

std::string startupNoticeScript(const std::string& notice) {
  // A JSON string is a script literal; bytes that are not UTF-8 become U+FFFD.
  return "window.plinthosStartupNotice = " + compactJson(json(notice)) + ";";
}

Startup startFromCommandLine(const std::vector<std::string>& args, const std::string& version,
                             std::ostream& out, std::ostream& err) {
  const CommandLine line = parseCommandLine(args);
  switch (line.action) {
    case CommandLine::Action::PrintVersion:
      out << "Plinthos " << version << "\n";
      return {0, ""};
    case CommandLine::Action::PrintHelp:
      out << cli::kUsage;
      return {0, ""};
    case CommandLine::Action::UsageError:
      err << line.error << "\n" << cli::kUsage;
      return {cli::kUsageExitCode, ""};
    case CommandLine::Action::Run:
      break;
  }
  if (!line.folder) return {};
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  // A relative path means nothing once the current folder is gone.
  const auto problem = ec && fs::path(*line.folder).is_relative()
                           ? notice(*line.folder, ec.message())
                           : openFolderFromCommandLine(*line.folder, cwd);
  if (!problem) return {};
  // Said in the terminal too, for whoever started it from one.
  err << *problem << "\n";
  return {std::nullopt, startupNoticeScript(*problem)};
}

}  // namespace plinthos
