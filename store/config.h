#pragma once
// The configuration store: one JSON file, read afresh and written whole by every operation.
#include <optional>
#include <string>

#include "common/outcome.h"

namespace plinthos {

// HOME, or the account's home folder from the password database when HOME is unset or empty.
std::optional<std::string> homeFolder();

// $XDG_CONFIG_HOME/plinthos (an absolute XDG_CONFIG_HOME only), else HOME/.config/plinthos.
// nullopt when there is no home folder to put it in.
std::optional<std::string> configFolder();

// Creates `folder` and each missing folder above it, readable by their owner only; existing
// folders keep their modes. nullopt on success, else the reason.
std::optional<std::string> makeOwnerOnlyFolders(const std::string& folder);

// The configuration file in configFolder(). While it is missing, the file an earlier version
// kept under HOME/Library/Application Support (Plinthos, else lx-table-scout) is copied there,
// owner-only, and left in place. Nothing else is created. Empty when there is no home folder.
std::string configFilePath();

// The configuration object. A missing, unreadable, empty or unparseable file, or one whose top
// level is not an object, reads as an empty object.
json loadConfig();

// Writes the whole object (2-space indentation, keys sorted, no final newline) atomically, as a
// new file readable by its owner only, in a folder created owner-only if missing.
// An unparseable file about to be replaced is first kept as config.json.corrupt-<time>.
// nullopt on success, else the reason it could not be saved.
std::optional<std::string> saveConfig(const json& config);

// `bucketPath` when it is text, else the empty text.
std::string storedBucketPath(const json& config);

// Writes the configuration; the failure a store operation reports when that could not be done.
Status saveStoredConfig(const json& config);

// The stored data folder, "" when absent or not text.
std::string getBucketPath();
// Stores `path` unchanged (the empty text too) as the data folder.
Status setBucketPath(const std::string& path);

}  // namespace plinthos
