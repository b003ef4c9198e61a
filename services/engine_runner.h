#pragma once
// Runs the database engine program on one SQL text, the same way for every data service:
// a temp script under /tmp, the engine started through the shell in the working folder.
#include <optional>
#include <string>

namespace plinthos {

// What the engine services are handed at start.
struct ServiceEnv {
  std::string exePath;     // stands for the application's own executable
  std::string duckdbPath;  // the engine program
};

enum class OutputMode { Json, Default };

struct EngineRun {
  enum class Status { NoTempScript, NotStarted, Finished };
  Status status = Status::NotStarted;
  std::string output;  // stdout and stderr, merged in the order written
  int exitCode = 0;    // the exit status; a killed engine counts as 128 + signal, never 0
};

// "/tmp/" prefix, process id, ".sql".
std::string tempScriptPath(const std::string& prefix);

// A shell word that stands for `value` exactly: single quotes, each ' written as '\''.
std::string shellQuote(const std::string& value);

// cd 'W' && 'ENGINE' :memory: [-json] < 'SCRIPT' 2>&1
std::string engineCommand(const std::string& workingFolder, const std::string& engine,
                          const std::string& script, OutputMode mode);

// Writes `sql` to the service's temp script (never through an existing entry), runs the
// engine in `workingFolder`, captures its output and removes the script again.
EngineRun runEngine(const std::string& workingFolder, const std::string& engine,
                    const std::string& sql, const std::string& prefix, OutputMode mode);

// The error reply for a run that failed: no temp script, engine not started, or a non-zero exit
// (the engine's output, else `emptyOutputMessage`). Nothing for a successful run.
std::optional<std::string> failedRunReply(const EngineRun& run, const char* emptyOutputMessage);

}  // namespace plinthos
