#pragma once
#include <string>
#include <vector>

#include "app/bridge_table.h"
#include "tools/dev_dialogs.h"

namespace plinthos {

// The page-side stand-in for the web view's bindings: one promise per call, calls sent one at a
// time in call order, replies parsed as JSON. Injected before the shell's own script.
std::string bridgeShim(const std::vector<BridgeBinding>& bindings);

// Serves the shell page on 127.0.0.1:port (0 picks a free port) until killed. Returns an exit code.
int serve(const std::vector<BridgeBinding>& bindings, ScriptedDialogs& dialogs, int port);

}  // namespace plinthos
