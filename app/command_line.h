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
    "       plinthos --choose-folder\n"
    "Explore a folder of CSV and Parquet files with SQL.\n"
    "\n"
    "  FOLDER           open with FOLDER as the data folder\n"
    "  --choose-folder  open, then ask for the data folder with the folder chooser\n"
    "  --version        print the version and exit\n"
    "  -h, --help       print this help and exit\n"
    "\n"
    "A Plinthos already running for this user opens the folder in its own window.\n";
inline constexpr const char* kUnknownOption = "plinthos: unknown option ";
inline constexpr const char* kTooManyFolders = "plinthos: only one folder can be opened";
inline constexpr const char* kChooseTakesNoFolder = "plinthos: --choose-folder takes no folder";
inline constexpr const char* kNoDisplay =
    "plinthos: cannot open a display. Plinthos is a graphical application: start it from a "
    "desktop session, or set DISPLAY or WAYLAND_DISPLAY.\n";
inline constexpr const char* kNoWindow = "plinthos: the window could not be created.\n";
inline constexpr int kNoDisplayExitCode = 1;
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
  bool chooseFolder = false;          // Run: open the folder chooser once the page is there
};

// The arguments after the program name. "--" ends the options; a lone "-" is a name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// Stores a readable folder as the data folder, as the folder chooser does, made absolute
// against `cwd`. Otherwise nothing is stored and the answer is the notice for the Query page.
std::optional<std::string> openFolderFromCommandLine(const std::string& given,
                                                     const std::filesystem::path& cwd);
// The same, where `cwd` is nullopt when the current folder could not be read (it was removed):
// then only an absolute name can be opened.
std::optional<std::string> openGivenFolder(const std::string& given,
                                           const std::optional<std::filesystem::path>& cwd);
// The notice openGivenFolder would give, without storing anything.
std::optional<std::string> givenFolderProblem(const std::string& given,
                                              const std::optional<std::filesystem::path>& cwd);

// Scripts the native side evaluates in the running window. Each waits, for a while, until the
// page function it calls is there, so it may be sent before the Query page has loaded.
// The data folder changed: the Query page is shown and lists the new folder from the start.
std::string reloadFolderScript();
// A notice for the Query page, as at start.
std::string showNoticeScript(const std::string& notice);
// The Query page's folder chooser, as its Change Path button opens it.
std::string chooseFolderScript();

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

// The answers that need no window: version, help and usage errors. nullopt: go on.
std::optional<int> answerWithoutWindow(const CommandLine& line, const std::string& version,
                                       std::ostream& out, std::ostream& err);
// The first start's part that needs a window: stores the folder given (a problem is written to
// `err` and carried in the script) and asks for the chooser when wanted.
std::string openFromCommandLine(const CommandLine& line, std::ostream& err);

}  // namespace plinthos
