#pragma once
// The configuration store: one JSON file, read afresh and written whole by every operation.
#include <optional>
#include <string>

#include "common/outcome.h"

namespace plinthos {

// HOME, or the account's home folder from the password database when HOME is unset or empty.
std::optional<std::string> homeFolder();

// HOME/Library/Application Support/Plinthos/config.json. Creates the folder and copies the
// legacy lx-table-scout file over when only that one exists. Empty when there is no home folder.
std::string configFilePath();

// The configuration object. A missing, unreadable, empty or unparseable file, or one whose top
// level is not an object, reads as an empty object.
json loadConfig();

// Writes the whole object (2-space indentation, keys sorted, no final newline) atomically.
// An unparseable file about to be replaced is first kept as config.json.corrupt-<time>.
// Failures: the reason it could not be saved.
Result<Done> saveConfig(const json& config);

// `bucketPath` when it is text, else the empty text.
std::string storedBucketPath(const json& config);

// Writes the configuration; the failure a store operation reports when that could not be done.
Result<Done> saveStoredConfig(const json& config);

// The stored data folder, "" when absent or not text.
std::string getBucketPath();
// Stores `path` unchanged (the empty text too) as the data folder.
Result<Done> setBucketPath(const std::string& path);

}  // namespace plinthos
