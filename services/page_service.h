#pragma once
// Serves the page texts compiled into the executable.
#include <string>
#include <string_view>

namespace plinthos {

// The Query page for "bucket", the Dashboards page for "coming" (compared exactly), else "".
std::string_view pageText(const std::string& id);

}  // namespace plinthos
