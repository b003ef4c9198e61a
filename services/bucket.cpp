#include "services/bucket.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "services/messages.h"
#include "services/paths.h"
#include "services/sources.h"
#include "store/bridge_io.h"

namespace fs = std::filesystem;

namespace plinthos {

namespace {

constexpr const char* kBucketFolderName = "bucket";
constexpr const char* kDataExtensions[] = {".csv", ".parquet"};

// A failure that abandons the whole listing; its text is the system's description.
struct ListingFailure {
  std::string what;
};

[[noreturn]] void fail(const std::string& what, const fs::path& p, std::error_code ec) {
  throw ListingFailure{fs::filesystem_error(what, p, ec).what()};
}

// Folders on the way down from the root, by device and inode, to spot a link back up.
using FolderId = std::pair<dev_t, ino_t>;

std::optional<FolderId> folderId(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
  return FolderId{st.st_dev, st.st_ino};
}

struct FileFacts {
  std::uintmax_t size = 0;
  long long created = 0;
};

// Size and birth time, links followed. Where the file system keeps no birth time, the last
// modification stands in for it.
FileFacts fileFacts(const fs::path& p) {
  struct statx st {};
  if (::statx(AT_FDCWD, p.c_str(), 0, STATX_SIZE | STATX_BTIME | STATX_MTIME, &st) != 0) {
    fail("cannot read file status", p, std::error_code(errno, std::generic_category()));
  }
  FileFacts facts;
  facts.size = st.stx_size;
  facts.created = (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec;
  return facts;
}

struct Entry {
  fs::path path;
  std::string name;
  bool folder = false;
};

class TreeBuilder {
 public:
  explicit TreeBuilder(fs::path root) : root_(std::move(root)) {
    std::error_code ec;
    canonicalRoot_ = fs::weakly_canonical(root_, ec);
    if (ec) fail("cannot resolve the folder", root_, ec);
  }

  json build() { return folderNode(root_, root_.filename().string()); }

 private:
  json folderNode(const fs::path& folder, const std::string& name) {
    json node{{"type", "dir"}, {"name", name}, {"children", json::array()}};
    auto id = folderId(folder);
    // A link back to a folder we are already inside: listed, but empty, instead of forever.
    if (id && onPath_.count(*id)) return node;
    if (id) onPath_.insert(*id);

    std::vector<Entry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) fail("cannot open folder", folder, ec);
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
      if (ec) break;
      std::error_code typeEc;
      bool isFolder = it->is_directory(typeEc);  // links to folders are followed
      entries.push_back({it->path(), it->path().filename().string(), isFolder});
    }
    if (ec) fail("cannot read folder", folder, ec);

    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      if (a.folder != b.folder) return a.folder;
      return a.name < b.name;  // byte order: upper case before lower case
    });

    json& children = node["children"];
    for (const auto& entry : entries) {
      if (entry.folder) {
        children.push_back(folderNode(entry.path, entry.name));
      } else if (auto file = fileNode(entry)) {
        children.push_back(std::move(*file));
      }
    }
    if (id) onPath_.erase(*id);
    return node;
  }

  std::optional<json> fileNode(const Entry& entry) {
    std::string extension = entry.path.extension().string();
    bool data = std::any_of(std::begin(kDataExtensions), std::end(kDataExtensions),
                            [&](const char* ext) { return extension == ext; });
    if (!data) return std::nullopt;
    FileFacts facts = fileFacts(entry.path);
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(entry.path, ec);
    if (ec) fail("cannot resolve the file", entry.path, ec);
    return json{{"type", "file"},
                {"name", entry.name},
                {"ext", extension.substr(1)},
                {"size", facts.size},
                {"created", facts.created},
                {"path", resolved.lexically_relative(canonicalRoot_).generic_string()}};
  }

  fs::path root_;
  fs::path canonicalRoot_;
  std::set<FolderId> onPath_;
};

}  // namespace

std::string defaultListingRoot(const std::string& exePath) {
  return (fs::path(applicationFolder(exePath)) / kBucketFolderName).string();
}

std::string listingRoot(const std::string& exePath) {
  if (auto bucket = usableBucketPath()) return *bucket;
  return defaultListingRoot(exePath);
}

// Arguments: none read.
// Reply: the folder tree of the listing root, members sorted, with `bucketPath` on the root;
// folders first, then data files (.csv and .parquet exactly), each group in byte order.
// Failures: {"bucketPath": root, "error": "Bucket folder not found. Please select a folder."}
// when the root does not exist; {"error": description} when any part of the tree cannot be
// read (no partial tree).
std::string listBucketCpp(const std::string&, const std::string& exePath) {
  return guarded(
      [&] {
        std::string root = listingRoot(exePath);
        std::error_code ec;
        fs::file_status st = fs::status(root, ec);
        if (!fs::exists(st)) {
          if (ec && ec != std::errc::no_such_file_or_directory &&
              ec != std::errc::not_a_directory) {
            return errorReply(fs::filesystem_error("cannot open folder", root, ec).what());
          }
          return toReply(json{{"error", messages::kBucketNotFound}, {"bucketPath", root}});
        }
        try {
          json tree = TreeBuilder(root).build();
          tree["bucketPath"] = root;
          return toReply(tree);
        } catch (const ListingFailure& failure) {
          return errorReply(failure.what);
        }
      },
      [](const std::string& what) { return errorReply(messages::kInternalError + what); });
}

// Arguments: none read. Reply: the chosen folder's path as a JSON string, "" when the user
// cancels. Stores nothing. Failures: none.
std::string chooseFolderCpp(const std::string&, Dialogs* dialogs) {
  return guarded(
      [&] {
        std::optional<std::string> chosen;
        if (dialogs) chosen = dialogs->chooseFolder();
        return stringReply(chosen.value_or(""));
      },
      [](const std::string&) { return stringReply(""); });
}

}  // namespace plinthos
