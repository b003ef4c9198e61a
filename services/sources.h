#pragma once
// How folder arguments of read_csv/read_parquet become patterns.
#include <optional>
#include <string>

namespace plinthos {

// True when `path`, taken relative to `base` unless absolute, names a folder (links followed).
bool namesFolder(const std::string& base, const std::string& path);

// The options of every read of a folder's files: files that differ in their columns are read by
// column name, so a column only some files have is there, NULL elsewhere.
inline constexpr const char* kFolderReadOptions = ", union_by_name = true";

// F('P/**/*.X', union_by_name = true): every file of kind X below folder P, P written verbatim.
std::string folderFilesCall(const std::string& function, const std::string& folder,
                            const std::string& extension);

// One call F('P') in the exact recognised form: F (any letter case), "('", one or more
// characters other than a quote, "'", optionally the folder read options, ")".
struct SourceCall {
  std::size_t begin = 0;  // offset of F
  std::size_t end = 0;    // one past the closing parenthesis
  std::string path;       // P
  bool folderOptions = false;
};
std::optional<SourceCall> findSourceCall(const std::string& sql, const std::string& function,
                                         std::size_t from = 0);

// One recognised call as the engine gets it: the folder's files call when P names a folder
// below `workingFolder`, else F in lower case and the rest unchanged.
std::string expandedCall(const std::string& workingFolder, const SourceCall& call,
                         const std::string& function, const std::string& extension);

// Rewrites every F('P') whose P names a folder below `workingFolder` into the folder's files
// call; the other calls get F in lower case and the rest unchanged.
std::string expandSourceFolders(const std::string& workingFolder, const std::string& sql,
                                const std::string& function, const std::string& extension);

// read_csv with csv, then read_parquet with parquet.
std::string expandAllSourceFolders(const std::string& workingFolder, const std::string& sql);

// A SQL string literal's content: every ' doubled.
std::string sqlQuoted(const std::string& text);

}  // namespace plinthos
