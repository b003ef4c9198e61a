#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace plinthos::test {

struct EngineRun {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
  long peakKb = 0;  // the child's peak resident set
};

// Runs `program args...` in `folder` with `script` on standard input and HOME set to
// `home`. With `keepOut` false the standard output is read and counted but not kept.
EngineRun runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& folder, const std::string& script,
                     const std::filesystem::path& home, bool keepOut = true,
                     std::size_t* outBytes = nullptr, std::size_t* outLines = nullptr);

bool isValidUtf8(const std::string& text);

// A fresh temporary data folder and HOME for each test, removed afterwards.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  EngineRun run(const std::string& script, bool json = true);
  void writeFile(const std::filesystem::path& relative, const std::string& content);

  std::filesystem::path root_;
  std::filesystem::path data_;
  std::filesystem::path home_;
};

}  // namespace plinthos::test
