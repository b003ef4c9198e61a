#include "services/engine_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "common/held_layout.h"
#include "common/messages.h"
#include "store/write_all.h"

extern char** environ;

namespace plinthos {

namespace {

constexpr std::size_t kReadChunkSize = 1 << 16;
constexpr int kSignalExitBase = 128;
constexpr int kUnknownExit = -1;
constexpr const char* kUniquePart = "_XXXXXX";
constexpr const char* kScriptSuffix = ".sql";
constexpr int kScriptSuffixLength = 4;
constexpr const char* kInMemory = ":memory:";
constexpr const char* kJsonFlag = "-json";
constexpr const char* kColumnsFlag = "-columns";
constexpr int kPipeCount = 2;  // standard output and standard error
constexpr int kExecFailedExit = 127;
constexpr std::size_t kMaxPidDigits = 9;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
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

// A folder the engine can be started in; anything else fails the run before it starts, as a
// failed change of folder always has.
bool canEnter(const std::string& folder) {
  struct stat st {};
  return folder.find('\0') == std::string::npos && ::stat(folder.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode) && ::access(folder.c_str(), X_OK) == 0;
}

// Both outputs to their ends, whichever the engine writes first: waiting on one while the
// other's pipe is full would stall the engine and us with it.
// Standard output goes to `onOutput` when there is one, else into `out`. False when
// `onOutput` refused a piece: reading stopped there.
bool readBoth(int outFd, int errFd, std::string& out, std::string& errors,
              const OutputReader& onOutput) {
  std::vector<char> buffer(kReadChunkSize);
  pollfd fds[kPipeCount] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[kPipeCount] = {&out, &errors};
  int open = kPipeCount;
  while (open > 0) {
    if (::poll(fds, kPipeCount, -1) < 0) {
      if (errno == EINTR) continue;
      return true;  // the caller closes the pipes, which ends an engine still writing
    }
    for (int i = 0; i < kPipeCount; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        fds[i].fd = -1;
        --open;
        continue;
      }
      if (i == 0 && onOutput) {
        if (!onOutput(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return false;
      } else {
        sinks[i]->append(buffer.data(), static_cast<std::size_t>(n));
      }
    }
  }
  return true;
}

thread_local EngineStop* currentStop = nullptr;

Failure notStarted() {
  return Failure{messages::kEngineNotStarted};
}

}  // namespace

// One engine run: its temp script (already nameless) and, once started, its process group.
struct LiveRun {
  int scriptFd = -1;
  pid_t group = 0;
};

// Every engine run in progress, so that a stop or the end of the app can kill its process
// group. A group is known only while its leader is unreaped, so a kill
// never reaches a reused process id.
class RunRegistry {
 public:
  enum class Open { Ready, Refused, NoScript };
  enum class Start { Started, Refused, Failed };

  static Open open(LiveRun& run, const std::string& prefix, const std::string& sql,
                   EngineStop* stop) {
    std::lock_guard lock(mutex_);
    if (closing_ || (stop && stop->stopped_)) return Open::Refused;
    if (!writeTempScript(run, prefix, sql)) return Open::NoScript;
    runs_.insert(&run);
    return Open::Ready;
  }

  // Starts the engine in `folder` as the leader of a new process group, the script on its
  // standard input, its outputs on `outFd` and `errFd`.
  static Start start(LiveRun& run, const std::vector<const char*>& argv, const std::string& folder,
                     int outFd, int errFd, EngineStop* stop) {
    std::lock_guard lock(mutex_);
    if (closing_ || (stop && stop->stopped_)) return Start::Refused;
    if (!spawnEngine(run.scriptFd, argv, folder, outFd, errFd, &run.group)) return Start::Failed;
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
    ::close(run.scriptFd);
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
    }
  }

 private:
  // A script of its own for every run, so runs at once never share one; created exclusively
  // and readable by its owner only, as it holds the user's SQL.
  static bool writeTempScript(LiveRun& run, const std::string& prefix, const std::string& sql) {
    std::string name = prefix + std::to_string(::getpid()) + kUniquePart + kScriptSuffix;
    int fd = ::mkostemps(name.data(), kScriptSuffixLength, O_CLOEXEC);
    if (fd < 0) return false;
    // The engine reads the script from the start of this same open file, so its name is not
    // needed: removed at once, it cannot outlive us however we end.
    const bool written = succeeded(writeAll(fd, sql)) && ::lseek(fd, 0, SEEK_SET) == 0;
    ::unlink(name.c_str());
    if (!written) {  // a short script would run the wrong statements
      ::close(fd);
      return false;
    }
    run.scriptFd = fd;
    return true;
  }

  // vfork: the child shares our memory until it runs the engine, so it does nothing but
  // system calls on what is prepared here. It asks to be killed when we die, then checks that
  // we did not die before it asked.
  static bool spawnEngine(int scriptFd, const std::vector<const char*>& argv,
                          const std::string& folder, int outFd, int errFd, pid_t* pid) {
    struct Plan {
      const int fds[3][2];
      const char* folder;
      char* const* argv;
      pid_t parent;
      volatile int execError;
    } plan{{{scriptFd, STDIN_FILENO}, {outFd, STDOUT_FILENO}, {errFd, STDERR_FILENO}},
           folder.c_str(),
           const_cast<char* const*>(argv.data()),
           ::getpid(),
           0};
    sigset_t all;
    sigset_t previous;
    ::sigfillset(&all);
    // No handler of ours may run in the child while it shares our memory.
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t child = ::vfork();
    if (child == 0) {
      int error = childPrepare(plan.fds, plan.folder, plan.parent);
      if (error == 0) {
        ::execve(plan.argv[0], plan.argv, environ);
        error = errno;
      }
      plan.execError = error;
      ::_exit(kExecFailedExit);
    }
    const int spawnError = child < 0 ? errno : plan.execError;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (child < 0) return false;
    if (spawnError != 0) {
      waitForExit(child);
      return false;
    }
    *pid = child;
    return true;
  }

  // In the vforked child: its own process group, killed with us, its files and folder, default
  // signal handling. An errno value when something failed, else 0.
  static int childPrepare(const int (&fds)[3][2], const char* folder, pid_t parent) {
    if (::setpgid(0, 0) != 0) return errno;
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return errno;
    if (::getppid() != parent) return ESRCH;  // we died before the request was made
    for (const auto& fd : fds) {
      if (::dup2(fd[0], fd[1]) < 0) return errno;
    }
    if (::chdir(folder) != 0) return errno;
    struct sigaction deflt {};
    deflt.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
      struct sigaction current {};
      if (::sigaction(sig, nullptr, &current) != 0) continue;
      // The app may ignore SIGPIPE; the engine must not. Handlers are ours, not the engine's.
      if (sig == SIGPIPE || (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN)) {
        ::sigaction(sig, &deflt, nullptr);
      }
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    return 0;
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

Result<EngineRun> runEngine(const std::string& workingFolder, const std::string& engine,
                            const std::string& sql, const std::string& prefix, OutputMode mode,
                            const OutputReader& onOutput) {
  EngineRun run;
  EngineStop* stop = currentStop;
  LiveRun live;
  switch (RunRegistry::open(live, prefix, sql, stop)) {
    case RunRegistry::Open::Refused:
      return Cancelled{};
    case RunRegistry::Open::NoScript:
      return Failure{messages::kTempFileFailed};
    case RunRegistry::Open::Ready:
      break;
  }
  struct Closer {
    LiveRun& live;
    ~Closer() { RunRegistry::close(live); }
  } closer{live};

  if (!canEnter(workingFolder)) {
    run.exitCode = kUnknownExit;
    return run;
  }
  // A NUL would cut the program's name short and so change what runs.
  if (engine.find('\0') != std::string::npos) return notStarted();
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return notStarted();
  Fd outRead(outPipe[0]), outWrite(outPipe[1]);
  if (::pipe2(errPipe, O_CLOEXEC) != 0) return notStarted();
  Fd errRead(errPipe[0]), errWrite(errPipe[1]);

  std::vector<const char*> argv{engine.c_str(), kInMemory};
  if (mode == OutputMode::Held) {
    argv.push_back(held::kFlag);
  } else if (mode != OutputMode::Default) {
    argv.push_back(kJsonFlag);
  }
  if (mode == OutputMode::JsonColumns) argv.push_back(kColumnsFlag);
  argv.push_back(nullptr);
  switch (RunRegistry::start(live, argv, workingFolder, outWrite.get(), errWrite.get(), stop)) {
    case RunRegistry::Start::Refused:
      return Cancelled{};
    case RunRegistry::Start::Failed:
      return notStarted();
    case RunRegistry::Start::Started:
      break;
  }
  // Only the engine writes now: its end makes the outputs end.
  outWrite.reset();
  errWrite.reset();

  // Reaps the engine on every way out, a failed allocation while reading included; closing
  // the pipes first ends an engine still writing.
  struct Reaper {
    LiveRun& live;
    EngineStop* stop;
    pid_t pid;
    Fd& out;
    Fd& err;
    bool stopped = false;
    int status = -1;
    bool done = false;
    void reap() {
      out.reset();
      err.reset();
      stopped = RunRegistry::finish(live, stop);
      status = waitForExit(pid);
      done = true;
    }
    ~Reaper() {
      if (!done) reap();
    }
  } reaper{live, stop, live.group, outRead, errRead};

  if (!readBoth(outRead.get(), errRead.get(), run.output, run.errors, onOutput)) {
    // Not reaped yet, so the group cannot be another's: the engine need not finish a run whose
    // output is refused.
    ::kill(-live.group, SIGKILL);
    run.outputCut = true;
  }
  reaper.reap();
  if (run.outputCut) return run;
  if (reaper.stopped) return Cancelled{};
  run.exitCode = exitCodeOf(reaper.status);
  if (reaper.status != -1 && WIFSIGNALED(reaper.status)) run.signal = WTERMSIG(reaper.status);
  return run;
}

namespace {

bool allDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id in a temp script's name "duck<service>_<pid>[_<unique>].sql", 0 for any other
// name.
pid_t scriptOwner(std::string_view name) {
  constexpr std::string_view kLead = "duck";
  if (name.substr(0, kLead.size()) != kLead || name.size() <= kScriptSuffixLength ||
      name.substr(name.size() - kScriptSuffixLength) != kScriptSuffix) {
    return 0;
  }
  name.remove_suffix(kScriptSuffixLength);
  std::size_t underscore = name.find('_');
  if (underscore == std::string_view::npos) return 0;
  std::string_view service = name.substr(kLead.size(), underscore - kLead.size());
  if (service.empty() ||
      !std::all_of(service.begin(), service.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
    return 0;
  }
  std::string_view rest = name.substr(underscore + 1);
  std::string_view pid = rest.substr(0, rest.find('_'));
  if (pid.size() != rest.size() && rest.size() - pid.size() != std::strlen(kUniquePart)) return 0;
  if (!allDigits(pid) || pid.size() > kMaxPidDigits) return 0;
  return static_cast<pid_t>(std::stol(std::string(pid)));
}

}  // namespace

std::size_t removeStaleEngineScripts(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return 0;
  std::size_t removed = 0;
  const uid_t me = ::geteuid();
  while (const dirent* d = ::readdir(dir.get())) {
    const pid_t owner = scriptOwner(d->d_name);
    if (owner <= 0) continue;
    // Only our own plain files, of processes that are gone.
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_uid != me) {
      continue;
    }
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    if (::unlinkat(::dirfd(dir.get()), d->d_name, 0) == 0) ++removed;
  }
  return removed;
}

Result<std::string> runJob(const ServiceEnv& env, const std::string& folder, const std::string& sql,
                           const EngineJob& job) {
  auto ran = runEngine(folder, env.duckdbPath, sql, job.scriptPrefix, job.mode);
  auto* run = std::get_if<EngineRun>(&ran);
  if (!run) return passOn<std::string>(std::move(ran));
  if (run->exitCode != 0 && run->errors.empty() && run->signal != 0) {
    return Failure{messages::kEngineKilled};
  }
  if (run->exitCode != 0) return Failure{run->errors.empty() ? job.emptyMessage : run->errors};
  return std::move(run->output);
}

}  // namespace plinthos
