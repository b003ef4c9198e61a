#include "services/engine_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <vector>

#include "bridge/bridge_io.h"
#include "bridge/messages.h"
#include "store/write_all.h"

extern char** environ;

namespace plinthos {

namespace {

constexpr std::size_t kReadChunkSize = 1 << 16;
constexpr mode_t kScriptMode = 0600;
constexpr int kSignalExitBase = 128;
constexpr int kUnknownExit = -1;

// Creates the script afresh: a stale entry is removed first and the create refuses anything
// that appears in between, so a planted link or file is never followed or written through.
bool writeTempScript(const std::string& path, const std::string& sql) {
  ::unlink(path.c_str());
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kScriptMode);
  if (fd < 0) return false;
  bool ok = writeAll(fd, sql);
  if (::close(fd) != 0) ok = false;
  if (!ok) ::unlink(path.c_str());  // a short script would run the wrong statements
  return ok;
}

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// The wait status of the child `pid`, or -1 when it cannot be had.
int waitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

int exitCodeOf(int status) {
  if (status == -1) return kUnknownExit;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kSignalExitBase + WTERMSIG(status);
  return kUnknownExit;
}

// Everything the engine writes, straight from the pipe in large pieces: answers can run to
// many megabytes.
void readAll(int fd, std::string& out) {
  std::vector<char> buffer(kReadChunkSize);
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    out.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

thread_local EngineStop* currentStop = nullptr;

}  // namespace

// One engine run: its temp script and, once started, its process group.
struct LiveRun {
  std::string script;
  pid_t group = 0;
};

// Every engine run in progress, so that a stop or the end of the app can kill its process
// group and remove its script. A group is known only while its leader is unreaped, so a kill
// never reaches a reused process id; scripts are written and removed under the same lock, so
// none is left behind by a process that ends while a run is starting.
class RunRegistry {
 public:
  enum class Open { Ready, Refused, NoScript };
  enum class Start { Started, Refused, Failed };

  static Open open(LiveRun& run, const std::string& sql, EngineStop* stop) {
    std::lock_guard lock(mutex_);
    if (closing_ || (stop && stop->stopped_)) return Open::Refused;
    if (!writeTempScript(run.script, sql)) return Open::NoScript;
    runs_.insert(&run);
    return Open::Ready;
  }

  // Starts `sh -c command` as the leader of a new process group, its output on `outFd`.
  static Start start(LiveRun& run, const std::string& command, int outFd, EngineStop* stop) {
    std::lock_guard lock(mutex_);
    if (closing_ || (stop && stop->stopped_)) return Start::Refused;
    if (!spawnShell(command, outFd, &run.group)) return Start::Failed;
    if (stop) stop->group_ = run.group;
    return Start::Started;
  }

  // Forgets the group before its leader is reaped; true when the run was stopped meanwhile.
  static bool finish(LiveRun& run, EngineStop* stop) {
    std::lock_guard lock(mutex_);
    run.group = 0;
    if (!stop) return false;
    stop->group_ = 0;
    return stop->stopped_;
  }

  static void close(LiveRun& run) {
    std::lock_guard lock(mutex_);
    runs_.erase(&run);
    ::unlink(run.script.c_str());
  }

  static void stop(EngineStop& stop) {
    std::lock_guard lock(mutex_);
    stop.stopped_ = true;
    if (stop.group_ > 0) ::kill(-stop.group_, SIGKILL);
  }

  static void endAll() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    for (LiveRun* run : runs_) {
      if (run->group > 0) ::kill(-run->group, SIGKILL);
      ::unlink(run->script.c_str());
    }
  }

 private:
  static bool spawnShell(const std::string& command, int outFd, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return false;
    }
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);  // the app may ignore it; the engine must not
    const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    int failed = posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    failed |= posix_spawnattr_setflags(&attr, flags);
    failed |= posix_spawnattr_setpgroup(&attr, 0);  // a group of its own, led by the shell
    failed |= posix_spawnattr_setsigmask(&attr, &none);
    failed |= posix_spawnattr_setsigdefault(&attr, &defaults);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    if (failed == 0) {
      failed =
          posix_spawn(pid, "/bin/sh", &actions, &attr, const_cast<char* const*>(argv), environ);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0;
  }

  static inline std::mutex mutex_;
  static inline bool closing_ = false;
  static inline std::set<LiveRun*> runs_;
};

void EngineStop::stop() {
  RunRegistry::stop(*this);
}

StopScope::StopScope(EngineStop* stop) : previous_(currentStop) {
  currentStop = stop;
}

StopScope::~StopScope() {
  currentStop = previous_;
}

void endAllEngineRuns() {
  RunRegistry::endAll();
}

std::string tempScriptPath(const std::string& prefix) {
  return prefix + std::to_string(::getpid()) + ".sql";
}

std::string shellQuote(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += '\'';
  return out;
}

std::string engineCommand(const std::string& workingFolder, const std::string& engine,
                          const std::string& script, OutputMode mode) {
  return "cd " + shellQuote(workingFolder) + " && " + shellQuote(engine) +
         " :memory:" + (mode == OutputMode::Json ? " -json" : "") + " < " + shellQuote(script) +
         " 2>&1";
}

EngineRun runEngine(const std::string& workingFolder, const std::string& engine,
                    const std::string& sql, const std::string& prefix, OutputMode mode) {
  EngineRun run;
  EngineStop* stop = currentStop;
  LiveRun live{tempScriptPath(prefix)};
  switch (RunRegistry::open(live, sql, stop)) {
    case RunRegistry::Open::Refused:
      run.status = EngineRun::Status::Stopped;
      return run;
    case RunRegistry::Open::NoScript:
      run.status = EngineRun::Status::NoTempScript;
      return run;
    case RunRegistry::Open::Ready:
      break;
  }
  struct Closer {
    LiveRun& live;
    ~Closer() { RunRegistry::close(live); }
  } closer{live};

  // A NUL would cut the command short and so change what runs.
  if (workingFolder.find('\0') != std::string::npos || engine.find('\0') != std::string::npos) {
    run.status = EngineRun::Status::NotStarted;
    return run;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    run.status = EngineRun::Status::NotStarted;
    return run;
  }
  FdCloser readEnd{fds[0]};
  FdCloser writeEnd{fds[1]};
  const std::string command = engineCommand(workingFolder, engine, live.script, mode);
  switch (RunRegistry::start(live, command, fds[1], stop)) {
    case RunRegistry::Start::Refused:
      run.status = EngineRun::Status::Stopped;
      return run;
    case RunRegistry::Start::Failed:
      run.status = EngineRun::Status::NotStarted;
      return run;
    case RunRegistry::Start::Started:
      break;
  }
  const pid_t shell = live.group;
  ::close(writeEnd.fd);  // only the engine writes: its end makes the output end
  writeEnd.fd = -1;

  try {
    readAll(readEnd.fd, run.output);
  } catch (...) {
    ::close(readEnd.fd);  // an engine still writing fails and ends
    readEnd.fd = -1;
    RunRegistry::finish(live, stop);
    waitForExit(shell);
    throw;
  }
  const bool stopped = RunRegistry::finish(live, stop);
  run.exitCode = exitCodeOf(waitForExit(shell));
  run.status = stopped ? EngineRun::Status::Stopped : EngineRun::Status::Finished;
  return run;
}

std::optional<std::string> failedRunReply(const EngineRun& run, const char* emptyOutputMessage) {
  switch (run.status) {
    case EngineRun::Status::NoTempScript:
      return errorReply(messages::kTempFileFailed);
    case EngineRun::Status::NotStarted:
      return errorReply(messages::kEngineNotStarted);
    case EngineRun::Status::Stopped:
      return cancelledReply();
    case EngineRun::Status::Finished:
      break;
  }
  if (run.exitCode != 0) return errorReply(run.output.empty() ? emptyOutputMessage : run.output);
  return std::nullopt;
}

}  // namespace plinthos
