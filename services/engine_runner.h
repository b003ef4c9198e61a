#pragma once
// Runs the database engine program on one SQL text, the same way for every data service: the
// SQL in a temp script of its own under /tmp, handed to the engine as its standard input, the
// engine started directly (no shell) in the working folder.
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "common/outcome.h"

namespace plinthos {

// What the engine services are handed at start.
struct ServiceEnv {
  std::string exePath;     // stands for the application's own executable
  std::string duckdbPath;  // the engine program
};

// JsonColumns: JSON rows, the last statement's answer preceded by its column line. Held: only
// the last statement's answer, in the layout of common/held_layout.h.
enum class OutputMode { Json, JsonColumns, Held, Default };

// A run that ended by itself, well or not.
struct EngineRun {
  std::string output;      // standard output: the rows
  std::string errors;      // standard error: the engine's message when a statement failed
  int exitCode = 0;        // a killed engine counts as 128 + signal, never 0
  int signal = 0;          // the signal that ended the engine, 0 when it exited
  bool outputCut = false;  // the output passed the run's limit: the engine was killed
};

// Lets another thread end engine runs. A run obeys the stop that a StopScope names on its
// thread while it starts.
class EngineStop {
 public:
  // Kills the run in progress, if any, with its whole process group (the engine and whatever
  // it started), and keeps later runs of this stop from starting.
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

// Removes the temp scripts in `folder` left by processes of this user that are gone (a killed
// app never removed its own). How many were removed.
std::size_t removeStaleEngineScripts(const std::string& folder = "/tmp");

// Writes `sql` to a new temp script named `prefix`, the process id and a unique part, ".sql"
// (owner-only, never an existing entry), removes its name again at once and runs
// `engine :memory: [-json]` in `workingFolder` on it. The engine is killed when this process
// ends, however it ends. A folder that cannot be entered ends the run with a non-zero exit and
// no message. Failures: no temp script, engine not started. Cancelled when ended through
// its EngineStop, whatever it printed. With `onOutput`, the output is handed to it piece by piece
// as it comes instead of kept; when it refuses a piece the run ends at once (outputCut).
using OutputReader = std::function<bool(std::string_view piece)>;
Result<EngineRun> runEngine(const std::string& workingFolder, const std::string& engine,
                            const std::string& sql, const std::string& prefix, OutputMode mode,
                            const OutputReader& onOutput = {});

// How one engine service runs its statement.
struct EngineJob {
  const char* scriptPrefix;
  OutputMode mode;
  const char* emptyMessage;  // the failure when the engine fails without a message
};

// The engine's output for `sql` run in `folder`, or why there is none: as runEngine, or a
// non-zero exit (the engine's message, else the job's `emptyMessage`).
Result<std::string> runJob(const ServiceEnv& env, const std::string& folder, const std::string& sql,
                           const EngineJob& job);

}  // namespace plinthos
