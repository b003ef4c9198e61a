#include "services/folders.h"

#include <filesystem>
#include <system_error>

#include "services/paths.h"
#include "services/sources.h"
#include "store/config.h"

namespace fs = std::filesystem;

namespace plinthos {

namespace {
constexpr const char* kBucketFolderName = "bucket";
}  // namespace

std::optional<std::string> usableBucketPath() {
  std::string bucket = storedBucketPath(loadConfig());
  if (bucket.empty() || bucket.find('\0') != std::string::npos) return std::nullopt;
  std::error_code ec;
  fs::file_status st = fs::status(bucket, ec);
  if (fs::exists(st)) return bucket;
  // Absent means absent; any other failure (no permission to look) keeps the user's choice.
  if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
    return bucket;
  }
  return std::nullopt;
}

std::string workingFolder(const std::string& exePath) {
  if (auto bucket = usableBucketPath()) return *bucket;
  return applicationFolder(exePath);
}

std::string defaultListingRoot(const std::string& exePath) {
  return (fs::path(applicationFolder(exePath)) / kBucketFolderName).string();
}

std::string listingRoot(const std::string& exePath) {
  if (auto bucket = usableBucketPath()) return *bucket;
  return defaultListingRoot(exePath);
}

std::string conversionFolder(const std::string& exePath) {
  if (auto bucket = usableBucketPath()) return *bucket;
  std::string listed = defaultListingRoot(exePath);
  if (namesFolder("", listed)) return listed;
  return applicationFolder(exePath);
}

}  // namespace plinthos
