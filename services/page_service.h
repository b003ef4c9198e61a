#pragma once
// Serves the page texts compiled into the executable.
#include <string>

namespace plinthos {

// Bridge: [id] -> the Query page for "bucket", the Dashboards page for "coming", else "".
// Arguments outside the contract also answer "".
std::string getPage(const std::string& args);

}  // namespace plinthos
