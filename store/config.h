#pragma once
// The configuration store: one JSON file, read afresh and written whole by every operation.
#include <optional>
#include <string>

#include "bridge/bridge_io.h"

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
// nullopt on success, else the reason it could not be saved.
std::optional<std::string> saveConfig(const json& config);

// `bucketPath` when it is text, else the empty text.
std::string storedBucketPath(const json& config);

// The error reply of a store function whose write failed.
std::string saveFailedReply(const std::string& reason);

// Bridge: [] -> "path" or "" (a non-text value counts as absent).
std::string getBucketPathCpp(const std::string& args);
// Bridge: [path] -> "ok"; {"error": ...} when the argument is not text or the write failed.
std::string setBucketPathCpp(const std::string& args);

}  // namespace plinthos
