#include "store/config.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <utility>
#include <vector>

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
constexpr mode_t kConfigFileMode = 0600;
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

Failure errnoFailure() {
  return Failure{errnoText(errno)};
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
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kConfigFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Writes `content` beside `target` under a unique name, flushes it to disk and renames it over
// `target`, so a crash leaves either the old file or the new one, never half of either.
Result<Done> writeFileAtomically(const fs::path& target, const std::string& content) {
  std::string tempName;
  int fd = createBeside(target, tempName);
  if (fd < 0) return errnoFailure();

  // A file being replaced keeps its mode.
  struct stat old {};
  Result<Done> written = ::stat(target.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0
                             ? writeAll(fd, content)
                             : errnoFailure();
  if (succeeded(written) && ::fsync(fd) != 0) written = errnoFailure();
  if (::close(fd) != 0 && succeeded(written)) written = errnoFailure();
  if (succeeded(written) && ::rename(tempName.c_str(), target.c_str()) != 0) {
    written = errnoFailure();
  }
  if (!succeeded(written)) {
    ::unlink(tempName.c_str());
    return written;
  }
  // Make the rename itself durable.
  int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return Done{};
}

// The configuration object of a file's text, or nullopt when the text is not one (unparseable,
// not an object, or nesting too deeply to be handled safely).
std::optional<json> configFromText(const std::string& text) {
  if (jsonTextNesting(text) > kMaxConfigNesting) return std::nullopt;
  json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return std::nullopt;
  return parsed;
}

// Where a save writes: through a link to the file it names.
fs::path writeTarget(const std::string& path) {
  fs::path target(path);
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  return target;
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

// Keeps the unreadable content under a name no earlier copy has taken: the copy's name.
Result<std::string> keepCorruptCopy(const fs::path& target, const std::string& content) {
  std::string base = target.string() + kCorruptSuffix + utcStamp();
  for (int i = 1; i <= kMaxCorruptCopies; ++i) {
    std::string name = i == 1 ? base : base + "-" + std::to_string(i);
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    kCorruptCopyMode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errnoFailure();
    }
    Result<Done> written = writeAll(fd, content);
    if (succeeded(written) && ::fsync(fd) != 0) written = errnoFailure();
    ::close(fd);
    if (!succeeded(written)) {
      ::unlink(name.c_str());
      return passOn<std::string>(std::move(written));
    }
    return name;
  }
  return Failure{"too many earlier copies"};
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

std::size_t jsonNesting(const json& value, std::size_t limit) {
  std::size_t deepest = 0;
  std::vector<std::pair<const json*, std::size_t>> pending{{&value, 0}};
  while (!pending.empty()) {
    auto [at, depth] = pending.back();
    pending.pop_back();
    if (!at->is_structured()) continue;
    deepest = std::max(deepest, depth + 1);
    if (deepest > limit) return deepest;
    for (const auto& element : *at) pending.emplace_back(&element, depth + 1);
  }
  return deepest;
}

std::size_t jsonTextNesting(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > limit) return deepest;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

ConfigLock::ConfigLock(bool makeFolder) {
  std::string path = configFilePath();
  if (path.empty()) return;
  const std::string folder = fs::path(path).parent_path().string();
  // A first save needs the folder to lock as much as any later one.
  if (makeFolder && makeOwnerOnlyFolders(folder)) return;
  // The folder is the lock: nothing more to leave behind in it.
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Without it the save itself reports what is wrong.
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

ConfigLock::~ConfigLock() {
  if (fd_ >= 0) ::close(fd_);  // releases the lock
}

std::size_t removeLeftoverConfigFiles() {
  ConfigLock lock(false);  // no folder, no leftovers: starting creates nothing
  std::string path = configFilePath();
  if (path.empty()) return 0;
  fs::path target = writeTarget(path);
  const std::string lead = target.filename().string() + kTempInfix;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(target.parent_path().c_str()), ::closedir);
  if (!dir) return 0;
  std::size_t removed = 0;
  while (const dirent* d = ::readdir(dir.get())) {
    if (std::string_view(d->d_name).substr(0, lead.size()) != lead) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    if (::unlinkat(::dirfd(dir.get()), d->d_name, 0) == 0) ++removed;
  }
  return removed;
}

Result<Done> keepConfigCopy(const std::string& why) {
  std::string path = configFilePath();
  if (path.empty())
    return Failure{messages::kSaveConfigFailed + std::string(messages::kNoHomeFolder)};
  fs::path target = writeTarget(path);
  int readError = 0;
  auto content = readWholeFile(target, &readError);
  if (!content) {
    return Failure{messages::kSaveConfigFailed + std::string(messages::kExistingUnreadable) + ": " +
                   errnoText(readError)};
  }
  auto kept = keepCorruptCopy(target, *content);
  auto* copy = std::get_if<std::string>(&kept);
  if (!copy) {
    return Failure{messages::kSaveConfigFailed + std::string(messages::kCorruptCopyFailed) + ": " +
                   std::get<Failure>(kept).message};
  }
  std::cerr << "plinthos: " << why << "; the file as it was is kept as " << *copy << "\n";
  return Done{};
}

json loadConfig() {
  std::string path = configFilePath();
  if (path.empty()) return json::object();
  auto content = readWholeFile(path);
  if (!content) return json::object();
  return configFromText(*content).value_or(json::object());
}

Result<Done> saveConfig(const json& config) {
  std::string path = configFilePath();
  if (path.empty()) return Failure{messages::kNoHomeFolder};
  // The folder is made only now: reading alone leaves no trace in the home folder.
  if (auto problem = makeOwnerOnlyFolders(fs::path(path).parent_path().string())) {
    return Failure{*problem};
  }

  if (jsonNesting(config) > kMaxConfigNesting) {
    return Failure{messages::kNestedTooDeeply + std::to_string(kMaxConfigNesting) +
                   messages::kLevelsDeep};
  }
  // A configuration kept elsewhere through a link stays there: write through to its target.
  fs::path target = writeTarget(path);

  // A file that exists but cannot be read was read as empty: replacing it would lose it.
  int readError = 0;
  auto old = readWholeFile(target, &readError);
  if (!old && readError != ENOENT && readError != ENOTDIR) {
    return Failure{std::string(messages::kExistingUnreadable) + ": " + errnoText(readError)};
  }
  // An unparseable file was read as empty too; keep its content before it is replaced.
  if (old && !onlyWhitespace(*old) && !configFromText(*old)) {
    auto kept = keepCorruptCopy(target, *old);
    if (auto* problem = std::get_if<Failure>(&kept)) {
      return Failure{std::string(messages::kCorruptCopyFailed) + ": " + problem->message};
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

Result<Done> saveStoredConfig(const json& config) {
  auto saved = saveConfig(config);
  if (auto* reason = std::get_if<Failure>(&saved)) {
    return Failure{messages::kSaveConfigFailed + reason->message};
  }
  return Done{};
}

std::string getBucketPath() {
  return storedBucketPath(loadConfig());
}

// Failures: the file could not be written.
Result<Done> setBucketPath(const std::string& path) {
  ConfigLock lock;
  json config = loadConfig();
  config["bucketPath"] = path;
  return saveStoredConfig(config);
}

}  // namespace plinthos
