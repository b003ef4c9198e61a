#pragma once
// Which folder the engine runs in and which folder the bucket browser lists, decided here for
// every service from the configured data folder and the application's place.
#include <optional>
#include <string>

namespace plinthos {

// The configured data folder when it is set and an entry exists there (or its existence cannot
// be decided, so the engine reports the problem); otherwise nullopt.
std::optional<std::string> usableBucketPath();

// The engine's working folder: the usable data folder, else the application folder.
std::string workingFolder(const std::string& exePath);

// The bucket folder beside the application bundle, listed when no data folder is usable.
std::string defaultListingRoot(const std::string& exePath);

// The usable configured data folder, else defaultListingRoot.
std::string listingRoot(const std::string& exePath);

// Where the conversion runs: the working folder when a data folder is usable; otherwise the
// listed bucket folder beside the application (so a listed relative path names the file the
// engine opens), or the application folder when that does not exist either.
std::string conversionFolder(const std::string& exePath);

}  // namespace plinthos
