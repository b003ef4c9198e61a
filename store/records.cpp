#include "store/records.h"

#include <string>
#include <utility>

#include "store/config.h"

namespace plinthos {

bool isNamedRecord(const json& record) {
  if (!record.is_object()) return false;
  auto it = record.find("name");
  return it != record.end() && it->is_string();
}

bool hasName(const json& record, const std::string& name) {
  return isNamedRecord(record) && record["name"].get_ref<const std::string&>() == name;
}

json namedRecords(const json& list) {
  json out = json::array();
  for (const auto& record : list) {
    if (isNamedRecord(record)) out.push_back(record);
  }
  return out;
}

json& recordNamed(json& list, const std::string& name) {
  if (!list.is_array()) list = json::array();
  for (auto& record : list) {
    if (hasName(record, name)) return record;
  }
  list.push_back(json{{"name", name}});
  return list.back();
}

Result<Done> keepIfNotAList(const json& config, const char* key) {
  auto it = config.find(key);
  if (it == config.end() || it->is_array() || it->is_null()) return Done{};
  return keepConfigCopy(std::string("\"") + key + "\" in the configuration is not a list");
}

void removeNamed(json& list, const std::string& name) {
  json kept = json::array();
  for (auto& record : list) {
    if (!hasName(record, name)) kept.push_back(std::move(record));
  }
  list = std::move(kept);
}

}  // namespace plinthos
