#include "services/bucket.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "services/folders.h"
#include "services/json_text.h"

namespace fs = std::filesystem;

namespace plinthos {

namespace {

constexpr std::string_view kDataExtensions[] = {".csv", ".parquet"};
constexpr std::size_t kReplyStartCapacity = 1 << 16;  // grown as the tree needs
constexpr const char* kLoopProblem = "A link back to a folder it is in";
constexpr const char* kBadNameProblem = "The name is not valid UTF-8, so it cannot be opened here";
constexpr const char* kDanglingProblem = "A link to something that is not there";

// A failure that abandons the whole listing; its text is the system's description.
struct ListingFailure {
  std::string what;
};

[[noreturn]] void fail(const std::string& what, const fs::path& p, std::error_code ec) {
  throw ListingFailure{fs::filesystem_error(what, p, ec).what()};
}

[[noreturn]] void failErrno(const std::string& what, const fs::path& p, int error) {
  fail(what, p, std::error_code(error, std::generic_category()));
}

// Folders on the way down from the root, by device and inode, to spot a link back up.
using FolderId = std::pair<dev_t, ino_t>;

std::optional<FolderId> folderId(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
  return FolderId{st.st_dev, st.st_ino};
}

// The data extension of a file name ("" for none): the part from the last dot, except where
// that dot is the first character.
std::string_view dataExtension(std::string_view name) {
  std::size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string_view::npos) return {};
  std::string_view extension = name.substr(dot);
  for (std::string_view data : kDataExtensions) {
    if (extension == data) return data;
  }
  return {};
}

struct Entry {
  std::string name;
  bool folder = false;
  bool link = false;
  std::string_view extension;  // data files only; points into a constant
  // Data files: size and birth time, or the error of the status query, raised only when the
  // file's turn comes so that the first failure in listing order is the one reported.
  int statusError = 0;
  bool badName = false;  // not UTF-8: a page could never name it back
  std::uintmax_t size = 0;
  long long created = 0;
};

struct DirCloser {
  void operator()(DIR* d) const {
    if (d) ::closedir(d);
  }
};

// Whether a directory entry is a folder (a link to a folder counts, as the folder it names)
// and whether it is a link; the entry's own type saves a status query where the file system
// records it.
void classify(int dirFd, const dirent& d, Entry& entry) {
  struct stat st {};
  unsigned char type = d.d_type;
  if (type == DT_UNKNOWN) {
    if (::fstatat(dirFd, d.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
  }
  if (type == DT_DIR) {
    entry.folder = true;
  } else if (type == DT_LNK) {
    entry.link = true;
    entry.folder = ::fstatat(dirFd, d.d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
  }
}

// Size and birth time, links followed. Where the file system keeps no birth time, the last
// modification stands in for it.
void readFacts(int dirFd, const char* name, Entry& entry) {
  struct statx st {};
  if (::statx(dirFd, name, 0, STATX_SIZE | STATX_BTIME | STATX_MTIME, &st) != 0) {
    entry.statusError = errno;
    return;
  }
  entry.size = st.stx_size;
  entry.created = (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec;
}

// Writes the tree as reply text straight away; members in key order, as the serializer
// writes objects. Each node's path is carried down from the root, resolved once, so only
// links cost a path resolution.
class TreeWriter {
 public:
  TreeWriter(fs::path root, std::string& out) : root_(std::move(root)), out_(out) {
    std::error_code ec;
    canonicalRoot_ = fs::weakly_canonical(root_, ec);
    if (ec) fail("cannot resolve the folder", root_, ec);
  }

  // Entries to read before the folders not yet reached are left pending; unset: no end.
  void limitTo(std::size_t limit) { remaining_ = limit; }

  void write(const std::string& bucketPath) {
    out_ += "{\"bucketPath\":";
    appendJsonString(out_, bucketPath);
    out_ += ',';
    writeFolderMembers(root_, root_.filename().string(), std::string());
  }

  void writeRound(const std::string& bucketPath, const std::vector<std::string>& folders) {
    out_ += "{\"bucketPath\":";
    appendJsonString(out_, bucketPath);
    out_ += ",\"folders\":[";
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (i > 0 && spent()) break;
      if (i > 0) out_ += ',';
      writeFolderAt(folders[i]);
    }
    out_ += "]}";
  }

 private:
  // `relative`: the folder's resolved path relative to the root with a trailing "/" ("" for
  // the root itself), or nullopt where it could not be worked out and each file is resolved
  // on its own.
  void writeFolderMembers(const fs::path& folder, const std::string& name,
                          const std::optional<std::string>& relative) {
    // Checked for loops in its own round.
    if (readAny_ && spent()) {
      out_ += "\"children\":[]";
      closeFolder(name, {}, true);
      return;
    }
    auto id = folderId(folder);
    // A link back to a folder we are already inside: listed, but empty, instead of forever.
    if (id && onPath_.count(*id)) {
      out_ += "\"children\":[]";
      closeFolder(name, kLoopProblem);
      return;
    }
    int error = 0;
    auto read = readEntries(folder, error);
    readAny_ = true;
    // The root must be read; a part that cannot be is listed with the reason, the rest shows.
    if (!read && folder == root_) failErrno("cannot open folder", folder, error);
    if (!read) {
      out_ += "\"children\":[]";
      closeFolder(name, std::strerror(error));
      return;
    }
    if (id) onPath_.insert(*id);
    std::vector<Entry>& entries = *read;
    if (remaining_) *remaining_ -= std::min(*remaining_, entries.size() + 1);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      if (a.folder != b.folder) return a.folder;
      return a.name < b.name;  // byte order: upper case before lower case
    });

    out_ += "\"children\":[";
    bool first = true;
    for (const auto& entry : entries) {
      if (!first) out_ += ',';
      first = false;
      if (entry.folder && entry.badName) {
        out_ += "{\"children\":[]";
        closeFolder(entry.name, kBadNameProblem);
      } else if (entry.folder) {
        fs::path child = folder / entry.name;
        out_ += '{';
        writeFolderMembers(child, entry.name, childRelative(child, entry, relative));
      } else {
        writeFile(folder, entry, relative);
      }
    }
    out_ += ']';
    closeFolder(name);
    if (id) onPath_.erase(*id);
  }

  bool spent() const { return remaining_ && *remaining_ == 0; }

  // A folder of a later round: the folders above it count as the way down, for loops.
  void writeFolderAt(const std::string& relativeText) {
    fs::path relative(relativeText);
    bool inside = !relative.is_absolute();
    for (const auto& part : relative) inside = inside && part != "..";
    if (!inside) throw ListingFailure{"Not a folder of the data folder: " + relativeText};
    fs::path folder = root_;
    onPath_.clear();
    for (const auto& part : relative) {
      if (auto id = folderId(folder)) onPath_.insert(*id);
      folder /= part;
    }
    out_ += '{';
    writeFolderMembers(folder,
                       folder == root_ ? root_.filename().string() : relative.filename().string(),
                       folder == root_ ? std::string() : resolvedRelative(folder));
  }

  void closeFolder(const std::string& name, const std::string& problem = {}, bool pending = false) {
    out_ += ",\"name\":";
    appendJsonString(out_, name);
    if (pending) out_ += ",\"pending\":true";
    if (!problem.empty()) {
      out_ += ",\"problem\":";
      appendJsonString(out_, problem);
    }
    out_ += ",\"type\":\"dir\"}";
  }

  // Every entry of the folder, with the status of its data files; other files are dropped.
  // nullopt, with `error` set, when the folder cannot be read.
  std::optional<std::vector<Entry>> readEntries(const fs::path& folder, int& error) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      return std::nullopt;
    }
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
      error = errno;
      ::close(fd);
      return std::nullopt;
    }
    std::vector<Entry> entries;
    for (;;) {
      errno = 0;
      const dirent* d = ::readdir(dir.get());
      if (!d) {
        if (errno != 0) {
          error = errno;
          return std::nullopt;
        }
        break;
      }
      std::string_view name = d->d_name;
      if (name == "." || name == "..") continue;
      Entry entry;
      classify(fd, *d, entry);
      if (!entry.folder) {
        entry.extension = dataExtension(name);
        if (entry.extension.empty()) continue;
        readFacts(fd, d->d_name, entry);
      }
      entry.badName = !isValidUtf8(name);
      entry.name = name;
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  std::optional<std::string> childRelative(const fs::path& child, const Entry& entry,
                                           const std::optional<std::string>& relative) {
    if (!entry.link) {
      if (!relative) return std::nullopt;
      return *relative + entry.name + '/';
    }
    return resolvedRelative(child);
  }

  // A folder's resolved path relative to the root, as `relative` is carried down.
  std::optional<std::string> resolvedRelative(const fs::path& folder) const {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(folder, ec);
    if (ec) return std::nullopt;
    std::string text = resolved.lexically_relative(canonicalRoot_).generic_string();
    if (text.empty()) return std::nullopt;
    if (text == ".") return std::string();
    return text + '/';
  }

  // A file that cannot be read or named is listed all the same, with the reason.
  void writeFile(const fs::path& folder, const Entry& entry,
                 const std::optional<std::string>& relative) {
    std::string problem;
    if (entry.badName) {
      problem = kBadNameProblem;
    } else if (entry.statusError == ENOENT && entry.link) {
      problem = kDanglingProblem;
    } else if (entry.statusError != 0) {
      problem = std::strerror(entry.statusError);
    }
    if (relative && !entry.link) {
      path_.assign(*relative).append(entry.name);
    } else {
      fs::path file = folder / entry.name;
      std::error_code ec;
      fs::path resolved = fs::weakly_canonical(file, ec);
      if (ec) {
        if (problem.empty()) problem = ec.message();
        resolved = fs::weakly_canonical(folder, ec) / entry.name;
      }
      path_ = resolved.lexically_relative(canonicalRoot_).generic_string();
    }
    out_ += "{\"created\":";
    appendJsonInteger(out_, entry.created);
    out_ += ",\"ext\":\"";
    out_ += entry.extension.substr(1);
    out_ += "\",\"name\":";
    appendJsonString(out_, entry.name);
    out_ += ",\"path\":";
    appendJsonString(out_, path_);
    if (!problem.empty()) {
      out_ += ",\"problem\":";
      appendJsonString(out_, problem);
    }
    out_ += ",\"size\":";
    appendJsonInteger(out_, entry.size);
    out_ += ",\"type\":\"file\"}";
  }

  fs::path root_;
  fs::path canonicalRoot_;
  std::string& out_;
  std::set<FolderId> onPath_;
  std::string path_;  // reused for every file
  std::optional<std::size_t> remaining_;
  bool readAny_ = false;
};

// `limited`: the round's limit holds; otherwise the whole tree.
Result<Listing> listTree(const std::string& exePath, const ListingRound& round, bool limited) {
  std::string root = listingRoot(exePath);
  std::error_code ec;
  fs::file_status st = fs::status(root, ec);
  if (!fs::exists(st)) {
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
      return Failure{fs::filesystem_error("cannot open folder", root, ec).what()};
    }
    return Listing{BucketNotFound{root}};
  }
  try {
    JsonText tree;
    tree.text.reserve(kReplyStartCapacity);
    TreeWriter writer(root, tree.text);
    if (limited) writer.limitTo(round.limit);
    if (round.folders) {
      writer.writeRound(root, *round.folders);
    } else {
      writer.write(root);
    }
    return Listing{std::move(tree)};
  } catch (const ListingFailure& failure) {
    // The walk is abandoned at the first part that cannot be read.
    return Failure{failure.what};
  }
}

}  // namespace

Result<Listing> listBucket(const std::string& exePath) {
  return listTree(exePath, {}, false);
}

Result<Listing> listBucket(const std::string& exePath, const ListingRound& round) {
  return listTree(exePath, round, true);
}

Result<std::string> chooseFolder(Dialogs* dialogs) {
  std::optional<std::string> chosen;
  if (dialogs) chosen = dialogs->chooseFolder();
  if (!chosen) return Cancelled{};
  return std::move(*chosen);
}

}  // namespace plinthos
