#pragma once
// The table that binds the bridge names to their functions, in registration order.
// Display-free: the window and the developer tool both register from it.
#include <functional>
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
};

// All sixteen bridge functions, each wrapped so no exception escapes.
std::vector<BridgeBinding> bridgeTable(const BridgeEnv& env);

}  // namespace plinthos
