#pragma once
// The table that binds the bridge names to their functions, in registration order.
// Display-free: the window and the developer tool both register from it.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "services/dialogs.h"

namespace plinthos {

struct BridgeEnv {
  std::string exePath;     // stands for the application's own executable
  std::string duckdbPath;  // the engine program, decided once at start
  Dialogs* dialogs = nullptr;
};

using BridgeFunction = std::function<std::string(const std::string& args)>;

struct BridgeBinding {
  std::string name;
  BridgeFunction call;  // never throws; always answers valid JSON text
  // Where a call may carry a stop tag among its arguments (beyond those the function reads);
  // the stop function ends the calls with its tag. None: the function cannot be stopped.
  std::optional<std::size_t> stopTagAt = std::nullopt;
};

// All sixteen bridge functions, each wrapped so no exception escapes.
std::vector<BridgeBinding> bridgeTable(const BridgeEnv& env);

// The seventeenth, bound beside the table: it stops queries, answered at once, never queued.
inline constexpr const char* kStopFunctionName = "stopQueryCpp";
// The argument that carries a query's stop tag: the one after the SQL text.
inline constexpr std::size_t kQueryStopTagAt = 1;

}  // namespace plinthos
