#pragma once
// Named records in the configuration's lists (saved queries, dashboards): found, replaced in
// place and removed by exact name, the same way for every list.
#include <string>

#include "common/outcome.h"

namespace plinthos {

// A record is usable when it is an object whose `name` is text.
bool isNamedRecord(const json& record);
bool hasName(const json& record, const std::string& name);
// The usable records of a list, in order.
json namedRecords(const json& list);

// The first record named `name`, for changing in place; one holding only the name is appended
// when there is none. A value that is not a list is replaced by an empty list first.
json& recordNamed(json& list, const std::string& name);
// Before a list is written: when `key` holds something other than a list (or null), the file as
// it is is kept as a .corrupt- copy, since the save replaces that value. The failure when no
// copy could be kept.
Result<Done> keepIfNotAList(const json& config, const char* key);

// Removes every record named `name`; the others keep their order.
void removeNamed(json& list, const std::string& name);

}  // namespace plinthos
