#include "store/dashboards.h"

#include <string>

#include "common/messages.h"
#include "store/config.h"
#include "store/records.h"

namespace plinthos {

namespace {
constexpr const char* kKey = "dashboards";
// The configuration, the list and the record hold a layout: it may use what is left.
constexpr std::size_t kRecordDepth = 3;
constexpr std::size_t kMaxRecordValueNesting = kMaxConfigNesting - kRecordDepth;
}  // namespace

json getDashboards() {
  json config = loadConfig();
  auto it = config.find(kKey);
  if (it == config.end() || !it->is_array()) return json::array();
  return namedRecords(*it);
}

Result<Done> saveDashboard(const Dashboard& dashboard) {
  // Checked before anything is copied: copying is as deep as the value.
  if (jsonNesting(dashboard.layout) > kMaxRecordValueNesting ||
      jsonNesting(dashboard.filters) > kMaxRecordValueNesting) {
    return Failure{messages::kLayoutTooDeep + std::to_string(kMaxRecordValueNesting) +
                   messages::kLevelsDeep};
  }
  ConfigLock lock;
  json config = loadConfig();
  if (auto kept = keepIfNotAList(config, kKey); !succeeded(kept)) return kept;
  json& record = recordNamed(config[kKey], dashboard.name);
  record["layout"] = dashboard.layout;
  record["filters"] = dashboard.filters;
  record["pathToFiles"] = dashboard.pathToFiles;
  record["fileType"] = dashboard.fileType;
  return saveStoredConfig(config);
}

Result<Done> deleteDashboard(const std::string& name) {
  ConfigLock lock(false);  // nothing stored yet means nothing to delete
  json config = loadConfig();
  auto it = config.find(kKey);
  if (it == config.end() || !it->is_array()) return Done{};
  removeNamed(*it, name);
  return saveStoredConfig(config);
}

}  // namespace plinthos
