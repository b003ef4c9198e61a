#pragma once
// How folder arguments of read_csv/read_parquet become patterns.
#include <optional>
#include <string>
#include <vector>

namespace plinthos {

// True when `path`, taken relative to `base` unless absolute, names a folder (links followed).
bool namesFolder(const std::string& base, const std::string& path);
// True when `path`, taken the same way, names anything that exists (links followed).
bool namesEntry(const std::string& base, const std::string& path);

// `path` as an engine file pattern that matches only itself: the engine reads [, * and ? in a
// path as pattern characters, so each becomes a one-character class.
std::string literalPattern(const std::string& path);

// The options of every read of a folder's files: files that differ in their columns are read by
// column name, so a column only some files have is there, NULL elsewhere.
inline constexpr const char* kFolderReadOptions = ", union_by_name = true";

// F('P/**/*.X', union_by_name = true): every file of kind X below folder P, P matched literally.
std::string folderFilesCall(const std::string& function, const std::string& folder,
                            const std::string& extension);

// One call F('P') in the exact recognised form: F (any letter case), "('", a non-empty SQL
// literal (quotes doubled), "'", optionally the folder read options, ")".
struct SourceCall {
  std::size_t begin = 0;  // offset of F
  std::size_t end = 0;    // one past the closing parenthesis
  std::string path;       // P, its doubled quotes made single
  bool folderOptions = false;
};
std::optional<SourceCall> findSourceCall(const std::string& sql, const std::string& function,
                                         std::size_t from = 0);

// One recognised call as the engine gets it: the folder's files call when P names a folder
// below `workingFolder`; else F in lower case with P matched literally where it names an
// existing entry (or, for F('D/**/*.X'), where D names a folder), unchanged otherwise.
std::string expandedCall(const std::string& workingFolder, const SourceCall& call,
                         const std::string& function, const std::string& extension);

// Rewrites every F('P') whose P names a folder below `workingFolder` into the folder's files
// call; the other calls get F in lower case and the rest unchanged.
std::string expandSourceFolders(const std::string& workingFolder, const std::string& sql,
                                const std::string& function, const std::string& extension);

// read_csv with csv, then read_parquet with parquet.
std::string expandAllSourceFolders(const std::string& workingFolder, const std::string& sql);

// How many unreadable parts a reply names at most.
inline constexpr std::size_t kMaxUnreadableParts = 100;

// The folders below the folders that `sql` reads whole (F('P') with P a folder, or the pages'
// F('D/**/*.X')) that cannot be read, as P or D joined with the part's relative path.
std::vector<std::string> unreadableFolderParts(const std::string& workingFolder,
                                               const std::string& sql);

// A SQL string literal's content: every ' doubled.
std::string sqlQuoted(const std::string& text);
// The text a literal's content stands for: every '' made single.
std::string sqlUnquoted(const std::string& text);

}  // namespace plinthos
