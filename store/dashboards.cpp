#include "store/dashboards.h"

#include "store/config.h"
#include "store/records.h"

namespace plinthos {

namespace {
constexpr const char* kKey = "dashboards";
}  // namespace

json getDashboards() {
  json config = loadConfig();
  auto it = config.find(kKey);
  if (it == config.end() || !it->is_array()) return json::array();
  return namedRecords(*it);
}

Result<Done> saveDashboard(const Dashboard& dashboard) {
  json config = loadConfig();
  json& record = recordNamed(config[kKey], dashboard.name);
  record["layout"] = dashboard.layout;
  record["filters"] = dashboard.filters;
  record["pathToFiles"] = dashboard.pathToFiles;
  record["fileType"] = dashboard.fileType;
  return saveStoredConfig(config);
}

Result<Done> deleteDashboard(const std::string& name) {
  json config = loadConfig();
  auto it = config.find(kKey);
  if (it == config.end() || !it->is_array()) return Done{};
  removeNamed(*it, name);
  return saveStoredConfig(config);
}

}  // namespace plinthos
