#pragma once
// The bucket listing (the data folder as a tree of folders and data files) and the folder
// chooser.
#include <string>
#include <variant>

#include "common/outcome.h"
#include "services/dialogs.h"

namespace plinthos {

// The listing root does not exist.
struct BucketNotFound {
  std::string root;
};

// The tree, or word that there is no folder to list.
using Listing = std::variant<JsonText, BucketNotFound>;

// The folder tree of the listing root {bucketPath, children, name, type:"dir"}, members sorted;
// folders first, then data files (.csv and .parquet exactly), each group in byte order.
// Failures: the system's description when any part of the tree cannot be read (no partial
// tree).
Result<Listing> listBucket(const std::string& exePath);

// The folder the user chose; cancelled with the dialog. Stores nothing.
Result<std::string> chooseFolder(Dialogs* dialogs);

}  // namespace plinthos
