#pragma once
// The configuration store: one JSON file, read afresh and written whole by every operation.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/outcome.h"

namespace plinthos {

// How deeply the configuration may nest: far above any real dashboard layout, low enough that
// no file can drive the writer's recursion into a crash or its indentation into gigabytes.
inline constexpr std::size_t kMaxConfigNesting = 64;

// The nesting depth of a value or of a JSON text (a scalar is 0), counted without recursion;
// counting stops once it passes `limit`.
std::size_t jsonNesting(const json& value, std::size_t limit = kMaxConfigNesting);
std::size_t jsonTextNesting(std::string_view text, std::size_t limit = kMaxConfigNesting);

// The configuration's advisory lock, held for one read-change-write so that two windows, or a
// window and the developer tool, never lose each other's changes. Across threads and processes.
class ConfigLock {
 public:
  // With `makeFolder`, a missing configuration folder is created (owner-only) to be locked.
  explicit ConfigLock(bool makeFolder = true);
  ~ConfigLock();
  ConfigLock(const ConfigLock&) = delete;
  ConfigLock& operator=(const ConfigLock&) = delete;

 private:
  int fd_ = -1;
};

// Removes the temp files of saves that were killed before their rename (under the lock, so no
// save in progress loses its own). How many were removed.
std::size_t removeLeftoverConfigFiles();

// Keeps the file as it is now under config.json.corrupt-<time>, before a value of the wrong
// shape in it is replaced; the failure when no copy could be kept.
Result<Done> keepConfigCopy(const std::string& why);

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

// The configuration object. A missing, unreadable, empty or unparseable file, one whose top
// level is not an object, or one nesting deeper than kMaxConfigNesting reads as an empty object.
json loadConfig();

// Writes the whole object (2-space indentation, keys sorted, no final newline) atomically, as a
// new file readable by its owner only, in a folder created owner-only if missing.
// An unparseable file about to be replaced is first kept as config.json.corrupt-<time>. An object
// nesting deeper than kMaxConfigNesting is not written.
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
