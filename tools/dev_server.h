#pragma once
#include <string>
#include <vector>

#include "app/bridge_table.h"
#include "tools/dev_dialogs.h"

namespace plinthos {

// The page-side stand-in for the web view's bindings (tools/bridge_shim.js): one promise per
// call, calls queued on the server in call order, replies parsed as JSON; the stop function
// answered at once. Injected before the shell's own script.
std::string bridgeShim(const std::vector<BridgeBinding>& bindings);

// Serves the shell page on 127.0.0.1:port (0 picks a free port) until killed, with the calls run
// by the app's own dispatcher: one at a time on its worker, in arrival order. Returns an exit
// code.
int serve(const std::vector<BridgeBinding>& bindings, ScriptedDialogs& dialogs, int port);

}  // namespace plinthos
