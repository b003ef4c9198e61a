#pragma once
// Shared set-up for the native contract tests: a temporary HOME and data folder per test, a
// fake application bundle, fake engines and dialogs, and calls through the bridge table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/bridge_table.h"
#include "services/dialogs.h"

namespace plinthos::test {

namespace fs = std::filesystem;
using nlohmann::json;

inline std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const fs::path& p, const std::string& content) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
}

// A shell script standing in for the engine program.
inline void writeScript(const fs::path& p, const std::string& body) {
  writeFile(p, "#!/bin/sh\n" + body);
  fs::permissions(p, fs::perms::owner_all);
}

// Single-quoted for a shell script body.
inline std::string sq(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Dialog answers in the order they will be asked; nullopt (or none left) is a cancel.
class FakeDialogs : public Dialogs {
 public:
  std::deque<std::optional<std::string>> answers;
  int asked = 0;
  std::optional<std::string> chooseFolder() override { return next(); }
  std::optional<std::string> chooseCsvDestination() override { return next(); }

 private:
  std::optional<std::string> next() {
    ++asked;
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
};

inline std::string tempScriptFor(const std::string& prefix) {
  return prefix + std::to_string(::getpid()) + ".sql";
}

// The temp scripts of this process with `prefix` that still exist.
inline std::vector<std::string> tempScriptsLeft(const std::string& prefix) {
  const fs::path p(prefix);
  const std::string start = p.filename().string() + std::to_string(::getpid()) + "_";
  std::vector<std::string> left;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(p.parent_path(), ec)) {
    if (entry.path().filename().string().rfind(start, 0) == 0) left.push_back(entry.path());
  }
  return left;
}

class NativeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/plinthos-native-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    home = root / "home";
    data = root / "data";
    appFolder = root / "apps";
    exePath = (appFolder / "Plinthos.app" / "Contents" / "MacOS" / "Plinthos").string();
    fs::create_directories(home);
    fs::create_directories(data);
    fs::create_directories(appFolder / "Plinthos.app" / "Contents" / "MacOS");
    if (const char* old = std::getenv("HOME")) oldHome = old;
    ::setenv("HOME", home.c_str(), 1);
    // Settings follow HOME alone, so no test reaches the account's own.
    for (const char* name : kXdgVariables) {
      if (const char* old = std::getenv(name)) oldXdg[name] = old;
      ::unsetenv(name);
    }
    engine = PLINTHOS_ENGINE_PATH;
  }

  void TearDown() override {
    if (oldHome) {
      ::setenv("HOME", oldHome->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
    for (const auto& [name, value] : oldXdg) ::setenv(name.c_str(), value.c_str(), 1);
    // Undo any permission a test took away, so everything can be removed.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) {
        ::chmod(it->path().c_str(), 0700);
      }
    }
    ::chmod(root.c_str(), 0700);
    fs::remove_all(root, ec);
    for (const char* prefix : {"/tmp/duckquery_", "/tmp/duckschema_", "/tmp/duckconv_",
                               "/tmp/duckexport_", "/tmp/duckhold_"}) {
      EXPECT_EQ(tempScriptsLeft(prefix), std::vector<std::string>{})
          << "temp script left behind: " << prefix;
    }
  }

  fs::path configFile() const { return home / ".config" / "plinthos" / "config.json"; }
  // Where earlier versions kept it.
  fs::path macFile() const {
    return home / "Library" / "Application Support" / "Plinthos" / "config.json";
  }
  fs::path legacyFile() const {
    return home / "Library" / "Application Support" / "lx-table-scout" / "config.json";
  }
  void writeConfig(const std::string& text) { writeFile(configFile(), text); }
  json configJson() const { return json::parse(readFile(configFile())); }
  void setBucket(const fs::path& p) { writeConfig(json{{"bucketPath", p.string()}}.dump()); }

  // A call exactly as the window makes it, through the bridge table.
  std::string call(const std::string& name, const std::string& args = "[]") {
    BridgeEnv env{exePath, engine, &dialogs};
    for (const auto& binding : bridgeTable(env)) {
      if (binding.name == name) return binding.call(CallArgs(args));
    }
    ADD_FAILURE() << "no bridge function " << name;
    return {};
  }
  json callJson(const std::string& name, const std::string& args = "[]") {
    return json::parse(call(name, args));
  }
  static std::string args(std::initializer_list<std::string> values) {
    json a = json::array();
    for (const auto& v : values) a.push_back(v);
    return a.dump();
  }

  // An engine that prints `output` (on standard error when it fails) and exits with `code`,
  // recording what it was given.
  fs::path fakeEngine(const std::string& output, int code = 0) {
    fs::path out = root / "fake-out";
    writeFile(out, output);
    fs::path p = root / "fake-engine";
    writeScript(p, "pwd > " + sq((root / "rec-pwd").string()) + "\nprintf '%s\\n' \"$@\" > " +
                       sq((root / "rec-args").string()) + "\ncat > " +
                       sq((root / "rec-stdin").string()) + "\ncat " + sq(out.string()) +
                       (code != 0 ? " >&2" : "") + "\nexit " + std::to_string(code) + "\n");
    engine = p.string();
    return p;
  }
  std::string receivedSql() const { return readFile(root / "rec-stdin"); }
  std::string receivedFolder() const {
    std::string s = readFile(root / "rec-pwd");
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  std::string receivedArgs() const { return readFile(root / "rec-args"); }

  fs::path root, home, data, appFolder;
  std::string exePath, engine;
  std::optional<std::string> oldHome;
  static constexpr const char* kXdgVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME"};
  std::map<std::string, std::string> oldXdg;
  FakeDialogs dialogs;
};

}  // namespace plinthos::test
