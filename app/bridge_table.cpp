#include "app/bridge_table.h"

namespace plinthos {

std::vector<BridgeBinding> bridgeTable(const BridgeEnv&) { return {}; }

}  // namespace plinthos
