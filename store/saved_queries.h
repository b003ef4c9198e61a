#pragma once
// Saved queries: the `savedQueries` list of the configuration, records {name, sql} found by
// exact name.
#include <string>

namespace plinthos {

// Bridge: [] -> the stored list. Records that are not objects with a text `name` (only a
// hand-edited file holds them) are left out of the reply but kept in the file; a stored null
// is replied as null; any other non-array value as [].
std::string getSavedQueriesCpp(const std::string& args);
// Bridge: [name, sql] -> "ok"; {"error": ...} on bad arguments or a failed write.
std::string saveQueryCpp(const std::string& args);
// Bridge: [name] -> "ok"; {"error": ...} on bad arguments or a failed write.
std::string deleteQueryCpp(const std::string& args);

}  // namespace plinthos
