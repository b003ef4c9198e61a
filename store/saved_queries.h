#pragma once
// Saved queries: the `savedQueries` list of the configuration, records {name, sql} found by
// exact name.
#include <string>

#include "common/outcome.h"

namespace plinthos {

// The stored list. Records that are not objects with a text `name` (only a hand-edited file
// holds them) are left out but kept in the file; a stored null is handed back as null (a
// deletion stores it); any other value that is not a list as [].
json getSavedQueries();
// Replaces the sql of the first record named `name` in place, or appends a new record.
// Failures: the file could not be written.
Result<Done> saveQuery(const std::string& name, const std::string& sql);
// Removes every record named `name` (none is fine; an absent list is stored as null).
// Failures: the file could not be written.
Result<Done> deleteQuery(const std::string& name);

}  // namespace plinthos
