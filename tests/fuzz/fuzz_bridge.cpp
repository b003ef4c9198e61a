// Feeds arbitrary argument text to the bridge functions: the first byte picks the function
// (and the dialog answer), the rest is the argument text. Every reply must be valid JSON of
// the function's shape, and nothing may crash.
//
// Set-up once per process: a temporary HOME and data folder (under $PLINTHOS_FUZZ_TMP when
// set), and an engine that echoes its script back, so the output conversion sees the fuzzed
// text too. $PLINTHOS_FUZZ_ENGINE replaces it (for example with the real engine program).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/bridge_table.h"
#include "tests/native/reply_shapes.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct FuzzDialogs : plinthos::Dialogs {
  std::optional<std::string> answer;
  std::optional<std::string> chooseFolder() override { return answer; }
  std::optional<std::string> chooseCsvDestination() override { return answer; }
};

struct World {
  fs::path root, data, configFile, destination;
  std::string baseConfig;
  FuzzDialogs dialogs;
  std::vector<plinthos::BridgeBinding> table;
};

World* world = nullptr;

void writeFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

void cleanUp() {
  if (!world) return;
  std::error_code ec;
  fs::remove_all(world->root, ec);
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "plinthos-fuzz: %s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("PLINTHOS_FUZZ_TMP");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/plinthos-fuzz-XXXXXX";
  if (!::mkdtemp(pattern.data())) fail("cannot create a temp folder");
  world = new World;
  world->root = pattern;
  world->data = world->root / "data";
  fs::path home = world->root / "home";
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  world->configFile = home / ".config" / "plinthos" / "config.json";
  world->destination = world->root / "out.csv";
  writeFile(world->data / "2024" / "a.csv", "a,b\n1,x\n");
  writeFile(world->data / "b.parquet", "");
  fs::create_directories(world->data / "empty");
  fs::create_directory_symlink(world->data, world->data / "2024" / "loop");
  world->baseConfig = json{{"bucketPath", world->data.string()},
                           {"savedQueries", {{{"name", "q"}, {"sql", "SELECT 1"}}}},
                           {"dashboards", {{{"name", "d"}, {"layout", json::array()}}}}}
                          .dump(2);

  std::string engine;
  if (const char* e = std::getenv("PLINTHOS_FUZZ_ENGINE"); e && *e) {
    engine = e;
  } else {
    fs::path echo = world->root / "echo-engine";
    writeFile(echo, "#!/bin/sh\nexec cat\n");
    fs::permissions(echo, fs::perms::owner_all);
    engine = echo.string();
  }
  std::string exe = (world->root / "apps" / "Plinthos.app" / "Contents" / "MacOS" / "P").string();
  world->table = plinthos::bridgeTable(plinthos::BridgeEnv{exe, engine, &world->dialogs});
  std::atexit(cleanUp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  const auto& binding = world->table[bytes[0] % world->table.size()];
  // The high bit answers the dialogs: a destination inside the temp folder, or a cancel.
  world->dialogs.answer =
      (bytes[0] & 0x80) ? std::optional<std::string>(world->destination) : std::nullopt;
  writeFile(world->configFile, world->baseConfig);  // every input starts from the same state

  std::string args(reinterpret_cast<const char*>(bytes + 1), size - 1);
  std::string reply = binding.call(plinthos::CallArgs(args));
  if (!plinthos::test::hasShapeOf(binding.name, json::parse(reply, nullptr, false))) {
    fail(binding.name + " answered invalid JSON or outside its shape: " + reply);
  }
  return 0;
}
