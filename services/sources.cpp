#include "services/sources.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace plinthos {

namespace {

bool hasNul(const std::string& s) {
  return s.find('\0') != std::string::npos;
}

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool matchesAt(const std::string& text, std::size_t at, const std::string& word) {
  if (at + word.size() > text.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (lowerAscii(text[at + i]) != lowerAscii(word[i])) return false;
  }
  return true;
}

}  // namespace

bool namesEntry(const std::string& base, const std::string& path) {
  if (hasNul(base) || hasNul(path)) return false;
  struct stat st {};
  return ::stat((fs::path(base) / path).c_str(), &st) == 0;
}

bool namesFolder(const std::string& base, const std::string& path) {
  if (hasNul(base) || hasNul(path)) return false;
  std::error_code ec;
  return fs::is_directory(fs::path(base) / path, ec);
}

std::string literalPattern(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '[' || c == '*' || c == '?') {
      out += '[';
      out += c;
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

std::string folderFilesCall(const std::string& function, const std::string& folder,
                            const std::string& extension) {
  return function + "('" + sqlQuoted(literalPattern(folder)) + "/**/*." + extension + "'" +
         kFolderReadOptions + ")";
}

std::optional<SourceCall> findSourceCall(const std::string& sql, const std::string& function,
                                         std::size_t from) {
  const std::string opener = function + "('";
  for (std::size_t at = from; at + opener.size() <= sql.size(); ++at) {
    if (!matchesAt(sql, at, opener)) continue;
    std::size_t pathBegin = at + opener.size();
    // The literal ends at a quote that is not doubled.
    std::size_t quote = sql.find('\'', pathBegin);
    while (quote != std::string::npos && quote + 1 < sql.size() && sql[quote + 1] == '\'') {
      quote = sql.find('\'', quote + 2);
    }
    if (quote == std::string::npos || quote == pathBegin) continue;
    // The quote, then the parenthesis right after it or after the folder read options.
    std::size_t close = quote + 1;
    bool options = sql.compare(close, std::strlen(kFolderReadOptions), kFolderReadOptions) == 0;
    if (options) close += std::strlen(kFolderReadOptions);
    if (close >= sql.size() || sql[close] != ')') continue;
    return SourceCall{at, close + 1, sqlUnquoted(sql.substr(pathBegin, quote - pathBegin)),
                      options};
  }
  return std::nullopt;
}

namespace {

// The folder a recognised call reads whole, if any.
std::optional<std::string> folderReadBy(const std::string& workingFolder, const SourceCall& call,
                                        const std::string& extension) {
  if (namesFolder(workingFolder, call.path)) return call.path;
  const std::string filesPattern = "/**/*." + extension;
  const std::string& path = call.path;
  if (path.size() <= filesPattern.size() ||
      path.compare(path.size() - filesPattern.size(), std::string::npos, filesPattern) != 0) {
    return std::nullopt;
  }
  std::string folder = path.substr(0, path.size() - filesPattern.size());
  if (namesFolder(workingFolder, folder)) return folder;
  return std::nullopt;
}

}  // namespace

std::string expandedCall(const std::string& workingFolder, const SourceCall& call,
                         const std::string& function, const std::string& extension) {
  if (namesFolder(workingFolder, call.path)) return folderFilesCall(function, call.path, extension);
  std::string path = call.path;
  if (auto folder = folderReadBy(workingFolder, call, extension)) {
    // The pages' own call for a folder's files: the folder is a name, the rest a pattern.
    path = literalPattern(*folder) + path.substr(folder->size());
  } else if (namesEntry(workingFolder, path)) {
    path = literalPattern(path);
  }
  return function + "('" + sqlQuoted(path) + "'" + (call.folderOptions ? kFolderReadOptions : "") +
         ")";
}

std::string expandSourceFolders(const std::string& workingFolder, const std::string& sql,
                                const std::string& function, const std::string& extension) {
  std::string out;
  out.reserve(sql.size());
  std::size_t copied = 0;
  while (auto call = findSourceCall(sql, function, copied)) {
    out.append(sql, copied, call->begin - copied);
    out += expandedCall(workingFolder, *call, function, extension);
    copied = call->end;
  }
  out.append(sql, copied, std::string::npos);
  return out;
}

std::string expandAllSourceFolders(const std::string& workingFolder, const std::string& sql) {
  return expandSourceFolders(workingFolder,
                             expandSourceFolders(workingFolder, sql, "read_csv", "csv"),
                             "read_parquet", "parquet");
}

namespace {

// Every folder below `folder` (as written) that cannot be opened, links not followed, as the
// engine's own walk does not follow them either.
void collectUnreadable(const std::string& workingFolder, const std::string& folder,
                       std::vector<std::string>& out) {
  std::vector<std::string> pending{folder};
  while (!pending.empty() && out.size() < kMaxUnreadableParts) {
    std::string at = std::move(pending.back());
    pending.pop_back();
    DIR* dir = ::opendir((fs::path(workingFolder) / at).c_str());
    if (!dir) {
      out.push_back(at);
      continue;
    }
    while (const dirent* d = ::readdir(dir)) {
      std::string_view name = d->d_name;
      if (name == "." || name == "..") continue;
      bool folderEntry = d->d_type == DT_DIR;
      if (d->d_type == DT_UNKNOWN) {
        struct stat st {};
        folderEntry = ::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISDIR(st.st_mode);
      }
      if (folderEntry) pending.push_back(at + "/" + std::string(name));
    }
    ::closedir(dir);
  }
}

}  // namespace

std::vector<std::string> unreadableFolderParts(const std::string& workingFolder,
                                               const std::string& sql) {
  std::vector<std::string> out;
  for (const auto& [function, extension] :
       {std::pair<const char*, const char*>{"read_csv", "csv"}, {"read_parquet", "parquet"}}) {
    std::size_t from = 0;
    while (auto call = findSourceCall(sql, function, from)) {
      from = call->end;
      if (auto folder = folderReadBy(workingFolder, *call, extension)) {
        collectUnreadable(workingFolder, *folder, out);
      }
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::string sqlUnquoted(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') ++i;
  }
  return out;
}

std::string sqlQuoted(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace plinthos
