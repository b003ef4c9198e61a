#include "store/records.h"

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

}  // namespace plinthos
