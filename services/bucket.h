#pragma once
// The bucket listing (the data folder as a tree of folders and data files) and the folder
// chooser.
#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

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

// A listing in rounds, so a huge folder can be drawn while the rest is still being read. Each
// round reads entries until `limit` is spent (at least the first folder whole); folders it did
// not reach are listed empty with "pending": true, to be asked for in a later round.
struct ListingRound {
  std::size_t limit = 0;
  // Folders to list, relative to the root ("" is the root); none: the root's tree as above.
  // With folders, the reply is {bucketPath, folders: [folder node...]} for the first of them,
  // in the order asked, as many as the limit allows (at least one).
  std::optional<std::vector<std::string>> folders;
};
Result<Listing> listBucket(const std::string& exePath, const ListingRound& round);

// The folder the user chose; cancelled with the dialog. Stores nothing.
Result<std::string> chooseFolder(Dialogs* dialogs);

}  // namespace plinthos
