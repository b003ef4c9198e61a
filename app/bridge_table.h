#pragma once
// The one boundary between the pages and the native side: the table that binds each bridge name,
// in registration order, to its function in the store or the services. For every call it reads
// the arguments, calls the function, shapes the reply, and is the only place where something
// thrown becomes that function's failure reply. Display-free: the window and the developer tool
// both register from it.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "services/dialogs.h"
#include "services/engine_runner.h"

namespace plinthos {

struct BridgeEnv {
  std::string exePath;     // stands for the application's own executable
  std::string duckdbPath;  // the engine program, decided once at start
  Dialogs* dialogs = nullptr;
};

// Argument-array text in, reply text out.
using BridgeFunction = std::function<std::string(const std::string& args)>;

struct BridgeBinding {
  std::string name;
  BridgeFunction call;  // never throws; always answers valid JSON text
  // Where a call may carry a stop tag among its arguments (beyond those the function reads);
  // the stop function ends the calls with its tag. None: the function cannot be stopped.
  std::optional<std::size_t> stopTagAt = std::nullopt;
};

// All sixteen bridge functions.
std::vector<BridgeBinding> bridgeTable(const BridgeEnv& env);

// The seventeenth, bound beside the table: it stops queries, answered at once, never queued.
inline constexpr const char* kStopFunctionName = "stopQueryCpp";
// The argument that carries a query's stop tag: the one after the SQL text.
inline constexpr std::size_t kQueryStopTagAt = 1;

// The stop function: [tag] -> {"stopped": count}, where `stop` ends the calls carrying `tag`
// and counts them. No tag, or the empty one, stops nothing.
BridgeFunction stopFunction(std::function<std::size_t(const std::string& tag)> stop);

// The stop tag a call of `binding` carries; "" when none, or when the function cannot be stopped.
std::string stopTagOf(const BridgeBinding& binding, const std::string& args);

// The reply of an engine run that gave no usable output; nothing for a successful run.
std::optional<std::string> failedRunReply(const EngineRun& run, const char* emptyMessage);

}  // namespace plinthos
