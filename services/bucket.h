#pragma once
// The bucket listing (the data folder as a tree of folders and data files) and the folder
// chooser.
#include <string>

#include "services/dialogs.h"

namespace plinthos {

// The bucket folder beside the application bundle, listed when no data folder is usable.
std::string defaultListingRoot(const std::string& exePath);

// The usable configured data folder, else defaultListingRoot.
std::string listingRoot(const std::string& exePath);

// Bridge: [] -> the tree {bucketPath, children, name, type:"dir"}, or
// {"bucketPath":root,"error":"Bucket folder not found. Please select a folder."}, or
// {"error": the system's description} when the tree cannot be read.
std::string listBucketCpp(const std::string& args, const std::string& exePath);

// Bridge: [] -> the chosen folder as a JSON string, "" when cancelled.
std::string chooseFolderCpp(const std::string& args, Dialogs* dialogs);

}  // namespace plinthos
