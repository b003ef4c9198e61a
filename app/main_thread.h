// Hands work to the window's thread, the only one that may touch GTK and the web view.
#pragma once

#include <functional>

namespace plinthos {

// Runs task once on the default main context, soon, from the main loop.
void runOnMain(std::function<void()> task);

}  // namespace plinthos
