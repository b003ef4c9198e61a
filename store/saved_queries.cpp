#include "store/saved_queries.h"

#include "store/config.h"
#include "store/records.h"

namespace plinthos {

namespace {
constexpr const char* kKey = "savedQueries";
}  // namespace

json getSavedQueries() {
  json config = loadConfig();
  auto it = config.find(kKey);
  if (it == config.end()) return json::array();
  if (it->is_null()) return nullptr;
  if (!it->is_array()) return json::array();
  return namedRecords(*it);
}

Result<Done> saveQuery(const std::string& name, const std::string& sql) {
  ConfigLock lock;
  json config = loadConfig();
  if (auto kept = keepIfNotAList(config, kKey); !succeeded(kept)) return kept;
  recordNamed(config[kKey], name)["sql"] = sql;
  return saveStoredConfig(config);
}

Result<Done> deleteQuery(const std::string& name) {
  ConfigLock lock(false);  // nothing stored yet means nothing to delete
  json config = loadConfig();
  json& list = config[kKey];  // an absent key becomes null, as the page expects
  if (list.is_array()) removeNamed(list, name);
  return saveStoredConfig(config);
}

}  // namespace plinthos
