#include "store/config.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>

#include "common/messages.h"
#include "store/write_all.h"

namespace fs = std::filesystem;

namespace plinthos {

namespace {

constexpr const char* kConfigHomeVariable = "XDG_CONFIG_HOME";
constexpr const char* kDefaultConfigHome = ".config";
constexpr const char* kAppFolderName = "plinthos";
// Where earlier versions kept the file, newest first: the first one found is carried over.
constexpr const char* kEarlierFolders[][3] = {
    {"Library", "Application Support", "Plinthos"},
    {"Library", "Application Support", "lx-table-scout"},
};
constexpr const char* kConfigFileName = "config.json";
constexpr const char* kTempInfix = ".tmp-";
constexpr int kMaxTempAttempts = 100;
constexpr const char* kCorruptSuffix = ".corrupt-";
constexpr int kFileIndent = 2;
constexpr int kMaxCorruptCopies = 1000;
constexpr std::size_t kReadChunk = 65536;
// Saved SQL and folder names are nobody else's business.
constexpr mode_t kNewFileMode = 0600;
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kCorruptCopyMode = 0600;

fs::path underHome(const std::string& home, const char* const (&parts)[3]) {
  fs::path p(home);
  for (const char* part : parts) p /= part;
  return p;
}

std::string errnoText(int err) {
  return std::strerror(err);
}

bool entryExists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

// The whole file, or nullopt (with `err` set) when it cannot be opened or read.
std::optional<std::string> readWholeFile(const fs::path& p, int* err = nullptr) {
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (err) *err = errno;
    return std::nullopt;
  }
  std::string content;
  char buffer[kReadChunk];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (err) *err = errno;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

// A new file beside `target` under a name nobody holds, readable by its owner only (the umask can
// narrow that further, never widen it).
int createBeside(const fs::path& target, std::string& name) {
  std::random_device random;
  for (int i = 0; i < kMaxTempAttempts; ++i) {
    char tag[17];
    std::snprintf(tag, sizeof tag, "%08x%08x", random(), random());
    name = target.string() + kTempInfix + tag;
    int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Writes `content` beside `target` under a unique name, flushes it to disk and renames it over
// `target`, so a crash leaves either the old file or the new one, never half of either.
std::optional<std::string> writeFileAtomically(const fs::path& target, const std::string& content) {
  std::string tempName;
  int fd = createBeside(target, tempName);
  if (fd < 0) return errnoText(errno);

  // A file being replaced keeps its mode.
  struct stat old {};
  bool ok = ::stat(target.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0;
  ok = ok && writeAll(fd, content) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tempName.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tempName.c_str());
    return errnoText(err);
  }
  // Make the rename itself durable.
  int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return std::nullopt;
}

bool onlyWhitespace(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string utcStamp() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::gmtime_r(&now, &parts);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &parts);
  return buf;
}

// Keeps the unreadable content under a name no earlier copy has taken.
std::optional<std::string> keepCorruptCopy(const fs::path& target, const std::string& content) {
  std::string base = target.string() + kCorruptSuffix + utcStamp();
  for (int i = 1; i <= kMaxCorruptCopies; ++i) {
    std::string name = i == 1 ? base : base + "-" + std::to_string(i);
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    kCorruptCopyMode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errnoText(errno);
    }
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    int err = errno;
    ::close(fd);
    if (!ok) {
      ::unlink(name.c_str());
      return errnoText(err);
    }
    return std::nullopt;
  }
  return std::string("too many earlier copies");
}

}  // namespace

std::optional<std::string> homeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home);
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) {
    return std::string(pw->pw_dir);
  }
  return std::nullopt;
}

std::optional<std::string> configFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one would depend on the current folder.
  const char* configHome = std::getenv(kConfigHomeVariable);
  if (configHome && configHome[0] == '/') return (fs::path(configHome) / kAppFolderName).string();
  auto home = homeFolder();
  if (!home) return std::nullopt;
  return (fs::path(*home) / kDefaultConfigHome / kAppFolderName).string();
}

std::optional<std::string> makeOwnerOnlyFolders(const std::string& folder) {
  fs::path built;
  for (const fs::path& part : fs::path(folder)) {
    built /= part;
    if (::mkdir(built.c_str(), kFolderMode) != 0 && errno != EEXIST) return errnoText(errno);
  }
  return std::nullopt;
}

std::string configFilePath() {
  auto folder = configFolder();
  if (!folder) return {};
  fs::path file = fs::path(*folder) / kConfigFileName;
  if (entryExists(file)) return file.string();
  auto home = homeFolder();
  if (!home) return file.string();
  for (const auto& earlier : kEarlierFolders) {
    fs::path old = underHome(*home, earlier) / kConfigFileName;
    if (!entryExists(old)) continue;
    // Copied through a temp name, so an interrupted copy never looks like a corrupt file. The
    // old file stays as it was. A failure shows when the file is next written.
    if (auto content = readWholeFile(old); content && !makeOwnerOnlyFolders(*folder)) {
      writeFileAtomically(file, *content);
    }
    break;
  }
  return file.string();
}

json loadConfig() {
  std::string path = configFilePath();
  if (path.empty()) return json::object();
  auto content = readWholeFile(path);
  if (!content) return json::object();
  json parsed = json::parse(*content, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return json::object();
  return parsed;
}

std::optional<std::string> saveConfig(const json& config) {
  std::string path = configFilePath();
  if (path.empty()) return std::string(messages::kNoHomeFolder);
  // The folder is made only now: reading alone leaves no trace in the home folder.
  if (auto problem = makeOwnerOnlyFolders(fs::path(path).parent_path().string())) return problem;

  fs::path target(path);
  std::error_code ec;
  // A configuration kept elsewhere through a link stays there: write through to its target.
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }

  // A file that exists but cannot be read was read as empty: replacing it would lose it.
  int readError = 0;
  auto old = readWholeFile(target, &readError);
  if (!old && readError != ENOENT && readError != ENOTDIR) {
    return std::string(messages::kExistingUnreadable) + ": " + errnoText(readError);
  }
  // An unparseable file was read as empty too; keep its content before it is replaced.
  if (old && !onlyWhitespace(*old)) {
    json parsed = json::parse(*old, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) {
      if (auto problem = keepCorruptCopy(target, *old)) {
        return std::string(messages::kCorruptCopyFailed) + ": " + *problem;
      }
    }
  }

  return writeFileAtomically(target,
                             config.dump(kFileIndent, ' ', false, json::error_handler_t::replace));
}

std::string storedBucketPath(const json& config) {
  auto it = config.find("bucketPath");
  if (it != config.end() && it->is_string()) return it->get<std::string>();
  return {};
}

Status saveStoredConfig(const json& config) {
  if (auto reason = saveConfig(config)) return Failure{messages::kSaveConfigFailed + *reason};
  return std::nullopt;
}

std::string getBucketPath() {
  return storedBucketPath(loadConfig());
}

// Failures: the file could not be written.
Status setBucketPath(const std::string& path) {
  json config = loadConfig();
  config["bucketPath"] = path;
  return saveStoredConfig(config);
}

}  // namespace plinthos
