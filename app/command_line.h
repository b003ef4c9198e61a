#pragma once
// The command line: `plinthos [FOLDER]`, `--version` and `--help`. Display-free, so what each
// argument does is tested without a window.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace plinthos {

namespace cli {
inline constexpr const char* kUsage =
    "Usage: plinthos [FOLDER]\n"
    "Explore a folder of CSV and Parquet files with SQL.\n"
    "\n"
    "  FOLDER         open with FOLDER as the data folder\n"
    "  --version      print the version and exit\n"
    "  -h, --help     print this help and exit\n";
inline constexpr const char* kUnknownOption = "plinthos: unknown option ";
inline constexpr const char* kTooManyFolders = "plinthos: only one folder can be opened";
// The notice on the Query page: the path as given, then the reason.
inline constexpr const char* kNoticeStart = "Could not open the folder \"";
inline constexpr const char* kNoticeMiddle = "\" given on the command line: ";
inline constexpr const char* kNameNotText = "the name is not valid UTF-8 text";
inline constexpr int kUsageExitCode = 2;
}  // namespace cli

struct CommandLine {
  enum class Action { Run, PrintVersion, PrintHelp, UsageError };
  Action action = Action::Run;
  std::optional<std::string> folder;  // Run: the folder to open, as given
  std::string error;                  // UsageError: what was wrong
};

// The arguments after the program name. "--" ends the options; a lone "-" is a name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// Stores a readable folder as the data folder, as the folder chooser does, made absolute
// against `cwd`. Otherwise nothing is stored and the answer is the notice for the Query page.
std::optional<std::string> openFolderFromCommandLine(const std::string& given,
                                                     const std::filesystem::path& cwd);

// A script that hands the notice to the pages before their own scripts run.
std::string startupNoticeScript(const std::string& notice);

// What the process does before any window: an exit code when it is done (version, help,
// usage error), else the start-up script for the web view (empty when there is nothing to say).
struct Startup {
  std::optional<int> exitCode;
  std::string initScript;
};
Startup startFromCommandLine(const std::vector<std::string>& args, const std::string& version,
                             std::ostream& out, std::ostream& err);

}  // namespace plinthos
