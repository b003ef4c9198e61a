// listBucketCpp's reply text, written directly, against a tree built the plain way (a
// filesystem walk into a JSON document) on trees full of awkward names and links.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "app/replies.h"
#include "tests/native/test_support.h"

namespace plinthos::test {
namespace {

using ListingReplyTest = NativeTest;

bool validUtf8(const std::string& text) {
  try {
    (void)json(text).dump();
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

// The listing as a document: every path resolved through links on its own, and an entry that
// cannot be read or named listed with the reason instead of its content.
class ReferenceTree {
 public:
  explicit ReferenceTree(const fs::path& root) : root_(root) {
    canonicalRoot_ = fs::weakly_canonical(root);
  }
  std::string reply() {
    try {
      json tree = folder(root_, root_.filename().string());
      tree["bucketPath"] = root_.string();
      return compactJson(tree);
    } catch (const fs::filesystem_error& e) {
      return errorReply(e.what());
    }
  }

 private:
  json folder(const fs::path& dir, const std::string& name) {
    json node{{"type", "dir"}, {"name", name}, {"children", json::array()}};
    if (!validUtf8(name)) {
      node["problem"] = "The name is not valid UTF-8, so it cannot be opened here";
      return node;
    }
    struct stat st {};
    bool known = ::stat(dir.c_str(), &st) == 0;
    auto id = std::make_pair(st.st_dev, st.st_ino);
    if (known && onPath_.count(id)) {
      node["problem"] = "A link back to a folder it is in";
      return node;
    }
    std::vector<std::pair<bool, fs::path>> entries;
    std::error_code readError;
    for (fs::directory_iterator it(dir, readError), end; !readError && it != end;
         it.increment(readError)) {
      std::error_code ec;
      entries.push_back({!it->is_directory(ec), it->path()});
    }
    if (readError && dir != root_) {
      node["problem"] = std::strerror(readError.value());
      return node;
    }
    if (readError) throw fs::filesystem_error("cannot open folder", dir, readError);
    if (known) onPath_.insert(id);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      if (a.first != b.first) return !a.first;
      return a.second.filename().string() < b.second.filename().string();
    });
    for (const auto& [isFile, p] : entries) {
      std::string ext = p.extension().string();
      if (!isFile) {
        node["children"].push_back(folder(p, p.filename().string()));
      } else if (ext == ".csv" || ext == ".parquet") {
        struct statx sx {};
        json file{
            {"type", "file"},
            {"name", p.filename().string()},
            {"ext", ext.substr(1)},
            {"size", 0},
            {"created", 0},
            {"path", fs::weakly_canonical(p).lexically_relative(canonicalRoot_).generic_string()}};
        if (::statx(AT_FDCWD, p.c_str(), 0, STATX_SIZE | STATX_BTIME | STATX_MTIME, &sx) != 0) {
          file["problem"] = errno == ENOENT && fs::is_symlink(p)
                                ? "A link to something that is not there"
                                : std::strerror(errno);
        } else {
          file["size"] = sx.stx_size;
          file["created"] = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
        }
        if (!validUtf8(p.filename().string())) {
          file["problem"] = "The name is not valid UTF-8, so it cannot be opened here";
        }
        node["children"].push_back(std::move(file));
      }
    }
    if (known) onPath_.erase(id);
    return node;
  }

  fs::path root_, canonicalRoot_;
  std::set<std::pair<dev_t, ino_t>> onPath_;
};

TEST_F(ListingReplyTest, MatchesTheDocumentBuiltReplyOnAwkwardTrees) {
  // Names the serializer must escape or repair, and extension edge cases.
  for (std::string name :
       {"quote\".csv", "back\\slash.csv", "new\nline.csv", "tab\t.parquet", "ctl\x01\x1f.csv",
        "del\x7f.csv", "caf\xc3\xa9.csv", "\xf0\x9f\x98\x80.parquet", "bad\xff.csv", "cut\xc3.csv",
        "sur\xed\xa0\x80.csv", "over\xc0\xaf.csv", ".old.csv", ".csv", "..csv", "a.", "x.CSV",
        "y.csv.bak", "plain"}) {
    writeFile(data / "names" / name, name);
  }
  writeFile(data / "names" / "sub\xfe" / "in.csv", "1");
  // Links: to a file outside, to a file inside, to a folder inside and outside, back up.
  writeFile(root / "elsewhere" / "deep" / "e.csv", "ee");
  writeFile(data / "real" / "r.parquet", "rrr");
  fs::create_symlink(root / "elsewhere" / "deep" / "e.csv", data / "out.csv");
  fs::create_symlink("real/r.parquet", data / "in.parquet");
  fs::create_directory_symlink("real", data / "alias");
  fs::create_directory_symlink(root / "elsewhere", data / "far");
  fs::create_directory_symlink("..", data / "real" / "up");
  fs::create_directory_symlink("../../data", data / "far" / "back");
  fs::create_directories(data / "empty" / "deeper");
  fs::create_symlink("nowhere", data / "names" / "dangling");  // not a data file: skipped

  for (const fs::path& bucket : {data, fs::path(data.string() + "/"),
                                 fs::path(data.string() + "/./real/.."), root / "link"}) {
    if (bucket == root / "link") fs::create_directory_symlink(data, bucket);
    setBucket(bucket);
    std::string reply = call("listBucketCpp");
    EXPECT_EQ(reply, ReferenceTree(bucket).reply()) << bucket;
    EXPECT_FALSE(json::parse(reply).contains("error"));
  }
  std::string reply = call("listBucketCpp");
  EXPECT_NE(reply.find(R"("path":"../elsewhere/deep/e.csv")"), std::string::npos);
  EXPECT_NE(reply.find(R"("name":"in.parquet","path":"real/r.parquet")"), std::string::npos);
  EXPECT_NE(reply.find(R"("name":"quote\".csv")"), std::string::npos);
  EXPECT_NE(reply.find(R"("name":"ctl\u0001\u001f.csv")"), std::string::npos);
  EXPECT_NE(reply.find("\"name\":\"bad\xef\xbf\xbd.csv\""), std::string::npos);
}

TEST_F(ListingReplyTest, FailuresMatchTheDocumentBuiltReply) {
  writeFile(data / "a" / "ok.csv", "");
  fs::create_symlink("missing.csv", data / "a" / "gone.csv");  // a data file with no status
  setBucket(data);
  std::string reply = call("listBucketCpp");
  EXPECT_EQ(reply, ReferenceTree(data).reply());
  EXPECT_NE(reply.find("A link to something that is not there"), std::string::npos);

  if (::geteuid() != 0) {
    fs::remove(data / "a" / "gone.csv");
    fs::create_directories(data / "a" / "shut");
    ::chmod((data / "a" / "shut").c_str(), 0);
    reply = call("listBucketCpp");
    EXPECT_EQ(reply, ReferenceTree(data).reply());
    EXPECT_NE(reply.find("Permission denied"), std::string::npos);
  }
}

}  // namespace
}  // namespace plinthos::test
