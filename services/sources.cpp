#include "services/sources.h"

#include <cstring>
#include <filesystem>
#include <system_error>

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

bool namesFolder(const std::string& base, const std::string& path) {
  if (hasNul(base) || hasNul(path)) return false;
  std::error_code ec;
  return fs::is_directory(fs::path(base) / path, ec);
}

std::string folderFilesCall(const std::string& function, const std::string& folder,
                            const std::string& extension) {
  return function + "('" + folder + "/**/*." + extension + "'" + kFolderReadOptions + ")";
}

std::optional<SourceCall> findSourceCall(const std::string& sql, const std::string& function,
                                         std::size_t from) {
  const std::string opener = function + "('";
  for (std::size_t at = from; at + opener.size() <= sql.size(); ++at) {
    if (!matchesAt(sql, at, opener)) continue;
    std::size_t pathBegin = at + opener.size();
    std::size_t quote = sql.find('\'', pathBegin);
    if (quote == std::string::npos || quote == pathBegin) continue;
    // The quote, then the parenthesis right after it or after the folder read options.
    std::size_t close = quote + 1;
    bool options = sql.compare(close, std::strlen(kFolderReadOptions), kFolderReadOptions) == 0;
    if (options) close += std::strlen(kFolderReadOptions);
    if (close >= sql.size() || sql[close] != ')') continue;
    return SourceCall{at, close + 1, sql.substr(pathBegin, quote - pathBegin), options};
  }
  return std::nullopt;
}

std::string expandedCall(const std::string& workingFolder, const SourceCall& call,
                         const std::string& function, const std::string& extension) {
  if (namesFolder(workingFolder, call.path)) return folderFilesCall(function, call.path, extension);
  return function + "('" + call.path + "'" + (call.folderOptions ? kFolderReadOptions : "") + ")";
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
