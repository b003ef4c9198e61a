// Plinthos's engine program: `duckdb [:memory:] [-json] < script`. Runs the statements of
// the script in order on a new database and stops at the first failure (exit status 1).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "common/held_layout.h"
#include "duckdb.h"
#include "engine/format.h"
#include "engine/printer.h"
#include "engine/sink.h"
#include "engine/statements.h"

namespace {

using plinthos::engine::OutputMode;
using plinthos::engine::Sink;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kReadBlock = 64 * 1024;
constexpr const char* kUsage = "Usage: duckdb [:memory:] [-json [-columns] | -held] < script\n";

std::string readAll(int fd) {
  std::string text;
  for (;;) {
    std::size_t old = text.size();
    text.resize(old + kReadBlock);
    ssize_t n = ::read(fd, text.data() + old, kReadBlock);
    if (n < 0 && errno == EINTR) {
      text.resize(old);
      continue;
    }
    text.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n <= 0) break;
  }
  return text;
}

// The engine's message on standard error, after everything printed so far.
int fail(Sink& out, const char* message) {
  out.flush();
  Sink err(STDERR_FILENO);
  std::string_view text = message != nullptr && *message != '\0' ? message : "unknown error";
  plinthos::engine::writeUtf8(err, text.data(), text.size());
  if (text.back() != '\n') err.put('\n');
  return kExitFailure;
}

// The error of statement `index` (of `count`) prepared on its own text, its LINE counted in the
// whole script; nullopt when the script cannot be split as the engine split it or the error is
// another one. Prepared inside the whole script, a later statement's error is placed by its
// offset in the script but shown in the statement's text, so the engine gives no LINE or a
// wrong one.
std::optional<std::string> ownStatementError(duckdb_connection connection,
                                             const std::string& script, idx_t count, idx_t index,
                                             const std::string& message) {
  std::vector<std::string_view> statements = plinthos::engine::splitStatements(script);
  if (statements.size() != count) return std::nullopt;
  std::string_view own = statements[index];
  duckdb_prepared_statement prepared = nullptr;
  std::optional<std::string> error;
  if (duckdb_prepare(connection, std::string(own).c_str(), &prepared) == DuckDBError) {
    const char* text = duckdb_prepare_error(prepared);
    if (text != nullptr) error = text;
  }
  duckdb_destroy_prepare(&prepared);
  auto firstLine = [](std::string_view text) { return text.substr(0, text.find('\n')); };
  if (!error || firstLine(*error) != firstLine(message)) return std::nullopt;
  static const std::regex kLine("\nLINE (\\d+):");
  std::smatch m;
  if (!std::regex_search(*error, m, kLine)) return error;
  auto before = static_cast<std::size_t>(own.data() - script.data());
  auto linesBefore = std::count(script.begin(), script.begin() + before, '\n');
  return error->substr(0, m.position(1)) + std::to_string(std::stol(m.str(1)) + linesBefore) +
         error->substr(m.position(1) + m.length(1));
}

// Runs every statement of `script`; returns the exit status. With `columns`, the answer of the
// last statement is preceded by its column line (see printColumns), even when it has no rows.
int runScript(duckdb_connection connection, const std::string& script, OutputMode mode,
              bool columns) {
  Sink out(STDOUT_FILENO);
  duckdb_extracted_statements statements = nullptr;
  idx_t count = duckdb_extract_statements(connection, script.c_str(), &statements);
  if (count == 0) {
    const char* error = duckdb_extract_statements_error(statements);
    int status = error != nullptr && *error != '\0' ? fail(out, error) : 0;
    duckdb_destroy_extracted(&statements);
    return status;
  }
  int status = 0;
  for (idx_t i = 0; i < count && status == 0; ++i) {
    duckdb_prepared_statement prepared = nullptr;
    if (duckdb_prepare_extracted_statement(connection, statements, i, &prepared) == DuckDBError) {
      const char* error = duckdb_prepare_error(prepared);
      std::string message = error != nullptr ? error : "";
      if (i > 0)
        message = ownStatementError(connection, script, count, i, message).value_or(message);
      status = fail(out, message.c_str());
      duckdb_destroy_prepare(&prepared);
      break;
    }
    duckdb_result result;
    std::string error;
    if (duckdb_execute_prepared_streaming(prepared, &result) == DuckDBError) {
      status = fail(out, duckdb_result_error(&result));
    } else {
      const bool last = i + 1 == count;
      if (columns && last) plinthos::engine::printColumns(result, out);
      // Held: only the last answer is kept, so the ones before it are not printed.
      if ((mode != OutputMode::kHeld || last) &&
          !plinthos::engine::printResult(result, mode, out, error))
        status = fail(out, error.c_str());
    }
    duckdb_destroy_result(&result);
    duckdb_destroy_prepare(&prepared);
  }
  duckdb_destroy_extracted(&statements);
  out.flush();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  OutputMode mode = OutputMode::kTable;
  bool columns = false;
  const char* database = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-json" || arg == "--json") {
      mode = OutputMode::kJson;
    } else if (arg == plinthos::held::kFlag) {
      mode = OutputMode::kHeld;
      columns = true;
    } else if (arg == "-columns" || arg == "--columns") {
      columns = true;
    } else if (arg == "-table" || arg == "--table") {
      mode = OutputMode::kTable;
    } else if (arg == "-version" || arg == "--version") {
      std::printf("%s (Plinthos engine program)\n", duckdb_library_version());
      return 0;
    } else if (arg == "-help" || arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "Unknown option: %s\n%s", argv[i], kUsage);
      return kExitUsage;
    } else if (database == nullptr) {
      database = argv[i];
    } else {
      std::fprintf(stderr, "Too many arguments: %s\n%s", argv[i], kUsage);
      return kExitUsage;
    }
  }
  // Only the in-memory database is offered: nothing persists between runs.
  if (database != nullptr && std::strcmp(database, ":memory:") != 0) {
    std::fprintf(stderr, "Only the in-memory database :memory: is supported, not: %s\n%s", database,
                 kUsage);
    return kExitUsage;
  }

  std::string script = readAll(STDIN_FILENO);

  duckdb_database db = nullptr;
  char* openError = nullptr;
  if (duckdb_open_ext(nullptr, &db, nullptr, &openError) == DuckDBError) {
    std::fprintf(stderr, "%s\n", openError != nullptr ? openError : "cannot open the database");
    duckdb_free(openError);
    return kExitFailure;
  }
  duckdb_connection connection = nullptr;
  if (duckdb_connect(db, &connection) == DuckDBError) {
    std::fprintf(stderr, "cannot connect to the database\n");
    duckdb_close(&db);
    return kExitFailure;
  }
  int status = runScript(connection, script, mode, columns && mode != OutputMode::kTable);
  duckdb_disconnect(&connection);
  duckdb_close(&db);
  return status;
}
