#include "tests/engine/engine_runner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace plinthos::test {

namespace fs = std::filesystem;

EngineRun runProgram(const std::string& program, const std::vector<std::string>& args,
                     const fs::path& folder, const std::string& script, const fs::path& home,
                     bool keepOut, std::size_t* outBytes, std::size_t* outLines) {
  EngineRun result;
  fs::path scriptFile = home / "script.sql";
  fs::path errFile = home / "stderr.txt";
  { std::ofstream(scriptFile, std::ios::binary) << script; }
  int outPipe[2];
  if (pipe(outPipe) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(scriptFile.c_str(), O_RDONLY);
    int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(outPipe[0]);
    close(outPipe[1]);
    setenv("HOME", home.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  char buffer[65536];
  std::size_t bytes = 0, lines = 0;
  for (;;) {
    ssize_t n = read(outPipe[0], buffer, sizeof buffer);
    if (n <= 0) break;
    bytes += static_cast<std::size_t>(n);
    for (ssize_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
    if (keepOut) result.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(outPipe[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.peakKb = usage.ru_maxrss;
  std::ifstream errIn(errFile, std::ios::binary);
  std::stringstream errText;
  errText << errIn.rdbuf();
  result.err = errText.str();
  fs::remove(scriptFile);
  fs::remove(errFile);
  if (outBytes != nullptr) *outBytes = bytes;
  if (outLines != nullptr) *outLines = lines;
  return result;
}

bool isValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80         ? 1
                      : (c >> 5) == 6  ? 2
                      : (c >> 4) == 14 ? 3
                      : (c >> 3) == 30 ? 4
                                       : 0;
    if (len == 0 || i + len > text.size()) return false;
    if (len == 2 && c < 0xC2) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    if (len == 3) {
      auto c1 = static_cast<unsigned char>(text[i + 1]);
      if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F)) return false;
    }
    if (len == 4) {
      auto c1 = static_cast<unsigned char>(text[i + 1]);
      if (c > 0xF4 || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F)) return false;
    }
    i += len;
  }
  return true;
}

void EngineTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "plinthos-engine-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  data_ = root_ / "data";
  home_ = root_ / "home";
  fs::create_directories(data_);
  fs::create_directories(home_);
}

void EngineTest::TearDown() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

EngineRun EngineTest::run(const std::string& script, bool json) {
  std::vector<std::string> args{":memory:"};
  if (json) args.push_back("-json");
  return runProgram(PLINTHOS_ENGINE_PATH, args, data_, script, home_);
}

void EngineTest::writeFile(const fs::path& relative, const std::string& content) {
  fs::path path = data_ / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

}  // namespace plinthos::test
