#include "services/engine_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "services/messages.h"
#include "store/bridge_io.h"

namespace plinthos {

namespace {

constexpr std::size_t kReadChunkSize = 1 << 16;
constexpr mode_t kScriptMode = 0600;
constexpr int kSignalExitBase = 128;
constexpr int kUnknownExit = -1;

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

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

struct ScriptRemover {
  const std::string& path;
  ~ScriptRemover() { ::unlink(path.c_str()); }
};

struct PipeCloser {
  void operator()(FILE* f) const {
    if (f) ::pclose(f);
  }
};

int exitCodeOf(int status) {
  if (status == -1) return kUnknownExit;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kSignalExitBase + WTERMSIG(status);
  return kUnknownExit;
}

}  // namespace

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

EngineOutput::EngineOutput(int fd, std::string& captured)
    : fd_(fd), captured_(captured), buffer_(kReadChunkSize) {}

// Straight from the pipe in large pieces: answers can run to many megabytes.
std::string_view EngineOutput::next() {
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    captured_.append(buffer_.data(), static_cast<std::size_t>(n));
    return {buffer_.data(), static_cast<std::size_t>(n)};
  }
}

EngineRun runEngine(const std::string& workingFolder, const std::string& engine,
                    const std::string& sql, const std::string& prefix, OutputMode mode,
                    const OutputReader& reader) {
  EngineRun run;
  std::string script = tempScriptPath(prefix);
  if (!writeTempScript(script, sql)) {
    run.status = EngineRun::Status::NoTempScript;
    return run;
  }
  ScriptRemover remover{script};

  // A NUL would cut the command short and so change what runs.
  if (workingFolder.find('\0') != std::string::npos || engine.find('\0') != std::string::npos) {
    run.status = EngineRun::Status::NotStarted;
    return run;
  }
  std::string command = engineCommand(workingFolder, engine, script, mode);
  std::unique_ptr<FILE, PipeCloser> pipe(::popen(command.c_str(), "re"));
  if (!pipe) {
    run.status = EngineRun::Status::NotStarted;
    return run;
  }
  EngineOutput output(::fileno(pipe.get()), run.output);
  if (reader) reader(output);
  while (!output.next().empty()) {
  }
  int status = ::pclose(pipe.release());
  run.exitCode = exitCodeOf(status);
  run.status = EngineRun::Status::Finished;
  return run;
}

std::optional<std::string> failedRunReply(const EngineRun& run, const char* emptyOutputMessage) {
  switch (run.status) {
    case EngineRun::Status::NoTempScript:
      return errorReply(messages::kTempFileFailed);
    case EngineRun::Status::NotStarted:
      return errorReply(messages::kEngineNotStarted);
    case EngineRun::Status::Finished:
      break;
  }
  if (run.exitCode != 0) return errorReply(run.output.empty() ? emptyOutputMessage : run.output);
  return std::nullopt;
}

}  // namespace plinthos
