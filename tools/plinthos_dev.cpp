// plinthos-dev: runs the application's own bridge functions outside the window.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/bridge_table.h"
#include "app/exe_path.h"
#include "services/paths.h"
#include "tools/dev_dialogs.h"
#include "tools/dev_server.h"

namespace {

constexpr int kUsageExit = 2;

int usage() {
  std::fprintf(stderr,
               "usage: plinthos-dev [--exe PATH] [--dialog ANSWER]... call NAME [ARGS]\n"
               "       plinthos-dev [--exe PATH] [--dialog ANSWER]... serve [--port N]\n");
  return kUsageExit;
}

// The bundle executable of the same build, beside which this tool is built.
std::string defaultExe() {
  std::filesystem::path self = plinthos::ownExecutablePath();
  return (self.parent_path() / "Plinthos.app" / "Contents" / "MacOS" / "Plinthos").string();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string exe = defaultExe();
  plinthos::ScriptedDialogs dialogs;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--exe" && i + 1 < args.size()) {
      exe = args[++i];
    } else if (args[i] == "--dialog" && i + 1 < args.size()) {
      dialogs.push(args[++i]);
    } else {
      break;
    }
  }
  if (i >= args.size()) return usage();

  plinthos::BridgeEnv env{exe, plinthos::duckdbPathFor(exe), &dialogs};
  std::vector<plinthos::BridgeBinding> bindings = plinthos::bridgeTable(env);
  const std::string verb = args[i++];

  if (verb == "call") {
    if (i >= args.size() || i + 2 < args.size()) return usage();
    const std::string& name = args[i];
    const plinthos::CallArgs callArgs(i + 1 < args.size() ? args[i + 1] : "[]");
    auto print = [](const std::string& reply) {
      std::fwrite(reply.data(), 1, reply.size(), stdout);
      std::fputc('\n', stdout);
      return 0;
    };
    for (const auto& b : bindings) {
      if (b.name == name) return print(b.call(callArgs));
    }
    // Nothing runs beside a single call, so there is never anything to stop.
    if (name == plinthos::kStopFunctionName) {
      return print(
          plinthos::stopFunction([](const std::string&) { return std::size_t{0}; })(callArgs));
    }
    std::fprintf(stderr, "plinthos-dev: no bridge function named %s\n", name.c_str());
    return kUsageExit;
  }
  if (verb == "serve") {
    int port = 0;
    if (i + 1 < args.size() && args[i] == "--port") {
      port = std::atoi(args[i + 1].c_str());
      i += 2;
    }
    if (i != args.size() || port < 0 || port > 65535) return usage();
    return plinthos::serve(bindings, dialogs, port);
  }
  return usage();
}
