#pragma once
// Named records in the configuration's lists (saved queries, dashboards).
#include <string>

#include "bridge/bridge_io.h"

namespace plinthos {

// A record is usable when it is an object whose `name` is text.
bool isNamedRecord(const json& record);
bool hasName(const json& record, const std::string& name);
// The usable records of a list, in order.
json namedRecords(const json& list);

}  // namespace plinthos
