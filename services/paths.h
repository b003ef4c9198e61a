#pragma once
// Where things are, derived lexically from the executable's own path (links are not resolved).
#include <string>

namespace plinthos {

// Contents/Resources/<name> of the bundle holding the executable.
std::string bundleResourcePath(const std::string& exePath, const std::string& name);

// The engine program: Resources/duckdb when an entry exists there, else the fallback unchecked.
std::string duckdbPathFor(const std::string& exePath);
inline constexpr const char* kFallbackDuckdbPath = "/usr/local/bin/duckdb";

// The folder holding the bundle: the executable's path less four trailing components.
std::string applicationFolder(const std::string& exePath);

}  // namespace plinthos
