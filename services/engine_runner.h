#pragma once
// Runs the database engine program on one SQL text, the same way for every data service:
// a temp script under /tmp, the engine started through the shell in the working folder.
#include <sys/types.h>

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
  enum class Status { NoTempScript, NotStarted, Finished, Stopped };
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

// Lets another thread end engine runs. A run obeys the stop that a StopScope names on its
// thread while it starts.
class EngineStop {
 public:
  // Kills the run in progress, if any, with its whole process group (the shell, the engine and
  // whatever the engine started), and keeps later runs of this stop from starting.
  void stop();

 private:
  friend class RunRegistry;
  bool stopped_ = false;  // both guarded by the registry's lock
  pid_t group_ = 0;       // the running engine's process group; 0 when none runs
};

// Engine runs on this thread obey `stop` while the scope lives.
class StopScope {
 public:
  explicit StopScope(EngineStop* stop);
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

 private:
  EngineStop* previous_;
};

// Kills every engine run of the process, removes their temp scripts and lets no new run start:
// the app is going away.
void endAllEngineRuns();

// Writes `sql` to the service's temp script (never through an existing entry), runs the
// engine in `workingFolder`, captures its output and removes the script again. A run ended
// through its EngineStop reports Status::Stopped, whatever it printed.
EngineRun runEngine(const std::string& workingFolder, const std::string& engine,
                    const std::string& sql, const std::string& prefix, OutputMode mode);

// The error reply for a run that failed: no temp script, engine not started, or a non-zero exit
// (the engine's output, else `emptyOutputMessage`); {"cancelled": true} for a stopped run.
// Nothing for a successful run.
std::optional<std::string> failedRunReply(const EngineRun& run, const char* emptyOutputMessage);

}  // namespace plinthos
