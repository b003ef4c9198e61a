#pragma once
// How folder arguments of read_csv/read_parquet become patterns.
#include <optional>
#include <string>

namespace plinthos {

// True when `path`, taken relative to `base` unless absolute, names a folder (links followed).
bool namesFolder(const std::string& base, const std::string& path);

// One call F('P') in the exact recognised form: F (any letter case), "('", one or more
// characters other than a quote, "')".
struct SourceCall {
  std::size_t begin = 0;  // offset of F
  std::size_t end = 0;    // one past the closing parenthesis
  std::string path;       // P
};
std::optional<SourceCall> findSourceCall(const std::string& sql, const std::string& function,
                                         std::size_t from = 0);

// Rewrites every F('P') whose P names a folder below `workingFolder` into F('P/**/*.X'); the
// other calls get F in lower case and P unchanged.
std::string expandSourceFolders(const std::string& workingFolder, const std::string& sql,
                                const std::string& function, const std::string& extension);

// read_csv with csv, then read_parquet with parquet.
std::string expandAllSourceFolders(const std::string& workingFolder, const std::string& sql);

// A SQL string literal's content: every ' doubled.
std::string sqlQuoted(const std::string& text);

}  // namespace plinthos
