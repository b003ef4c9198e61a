#include "services/paths.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace plinthos {

std::string bundleResourcePath(const std::string& exePath, const std::string& name) {
  return (fs::path(exePath).parent_path().parent_path() / "Resources" / name).string();
}

std::string duckdbPathFor(const std::string& exePath) {
  std::string candidate = bundleResourcePath(exePath, "duckdb");
  std::error_code ec;
  // symlink_status: an entry that exists counts, even a dangling link.
  if (fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  return kFallbackDuckdbPath;
}

std::string applicationFolder(const std::string& exePath) {
  fs::path p(exePath);
  for (int i = 0; i < 4; ++i) p = p.parent_path();
  return p.string();
}

}  // namespace plinthos
