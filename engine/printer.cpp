#include "engine/printer.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/column.h"
#include "engine/format.h"

namespace plinthos::engine {

namespace {

constexpr idx_t kMeasuredRows = 1000;  // rows held back to size the table's columns

struct ChunkDeleter {
  void operator()(duckdb_data_chunk chunk) const { duckdb_destroy_data_chunk(&chunk); }
};
using ChunkPtr = std::unique_ptr<std::remove_pointer_t<duckdb_data_chunk>, ChunkDeleter>;

struct ResultColumns {
  std::vector<std::string> names;
  std::vector<std::unique_ptr<Column>> columns;

  explicit ResultColumns(duckdb_result& result) {
    idx_t count = duckdb_column_count(&result);
    for (idx_t i = 0; i < count; ++i) {
      const char* name = duckdb_column_name(&result, i);
      names.emplace_back(name != nullptr ? name : "");
      duckdb_logical_type type = duckdb_column_logical_type(&result, i);
      columns.push_back(std::make_unique<Column>(type));
      duckdb_destroy_logical_type(&type);
    }
  }

  void bind(duckdb_data_chunk chunk) {
    for (idx_t i = 0; i < columns.size(); ++i) {
      columns[i]->bind(duckdb_data_chunk_get_vector(chunk, i));
    }
  }
};

bool fetchFailed(duckdb_result& result) {
  const char* error = duckdb_result_error(&result);
  return error != nullptr && *error != '\0';
}

bool printJson(duckdb_result& result, Sink& out) {
  ResultColumns cols(result);
  std::vector<std::string> keys;
  for (const auto& name : cols.names) {
    Sink key;
    writeJsonString(key, name.data(), name.size());
    key.put(':');
    keys.emplace_back(key.view());
  }
  bool first = true;
  while (ChunkPtr chunk{duckdb_fetch_chunk(result)}) {
    idx_t rows = duckdb_data_chunk_get_size(chunk.get());
    if (rows == 0) continue;
    cols.bind(chunk.get());
    for (idx_t row = 0; row < rows; ++row) {
      out.write(first ? std::string_view("[{") : std::string_view(",\n{"));
      first = false;
      for (idx_t c = 0; c < cols.columns.size(); ++c) {
        if (c > 0) out.put(',');
        out.write(keys[c]);
        cols.columns[c]->writeJson(out, row);
      }
      out.put('}');
      out.maybeFlush();
    }
  }
  if (fetchFailed(result)) return false;
  if (!first) out.write("]\n", 2);
  return true;
}

bool printHeld(duckdb_result& result, Sink& out) {
  ResultColumns cols(result);
  while (ChunkPtr chunk{duckdb_fetch_chunk(result)}) {
    idx_t rows = duckdb_data_chunk_get_size(chunk.get());
    if (rows == 0) continue;
    cols.bind(chunk.get());
    auto count = static_cast<uint32_t>(rows);
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    const std::size_t lengthAt = out.size();
    uint64_t length = 0;
    out.write(reinterpret_cast<const char*>(&length), sizeof length);
    for (const auto& column : cols.columns) column->writeHeld(out, rows);
    length = out.size() - lengthAt - sizeof length;
    out.patch(lengthAt, &length, sizeof length);
    out.maybeFlush();
  }
  if (fetchFailed(result)) return false;
  const uint32_t end = 0;
  out.write(reinterpret_cast<const char*>(&end), sizeof end);
  return true;
}

// A table whose column widths come from the names and the first chunk; later, wider cells
// simply push the line out rather than holding the whole answer back.
class TablePrinter {
 public:
  TablePrinter(ResultColumns& cols, Sink& out) : cols_(cols), out_(out) {
    for (const auto& name : cols_.names) widths_.push_back(utf8Length(name.data(), name.size()));
  }

  void measure(idx_t rows) {
    for (idx_t row = 0; row < rows; ++row) {
      for (idx_t c = 0; c < cols_.columns.size(); ++c) {
        cell_.clear();
        cols_.columns[c]->writeText(cell_, row);
        widths_[c] = std::max(widths_[c], utf8Length(cell_.view().data(), cell_.size()));
      }
    }
  }

  void header() {
    for (idx_t c = 0; c < cols_.names.size(); ++c) {
      cell_.clear();
      writeUtf8(cell_, cols_.names[c].data(), cols_.names[c].size());
      field(c, cols_.columns[c]->numeric());
    }
    out_.put('\n');
    for (idx_t c = 0; c < widths_.size(); ++c) {
      if (c > 0) out_.write("-+-", 3);
      out_.write(std::string(widths_[c], '-'));
    }
    out_.put('\n');
  }

  void rows(idx_t rows) {
    for (idx_t row = 0; row < rows; ++row) {
      for (idx_t c = 0; c < cols_.columns.size(); ++c) {
        cell_.clear();
        cols_.columns[c]->writeText(cell_, row);
        field(c, cols_.columns[c]->numeric());
      }
      out_.put('\n');
      out_.maybeFlush();
    }
  }

 private:
  void field(idx_t c, bool right) {
    if (c > 0) out_.write(" | ", 3);
    std::size_t length = utf8Length(cell_.view().data(), cell_.size());
    std::size_t pad = widths_[c] > length ? widths_[c] - length : 0;
    bool last = c + 1 == widths_.size();
    if (right) out_.write(std::string(pad, ' '));
    out_.write(cell_.view());
    if (!right && !last) out_.write(std::string(pad, ' '));
  }

  ResultColumns& cols_;
  Sink& out_;
  Sink cell_;
  std::vector<std::size_t> widths_;
};

bool printTable(duckdb_result& result, Sink& out) {
  ResultColumns cols(result);
  TablePrinter table(cols, out);
  // Widths come from the first rows only, so a long answer still streams.
  std::vector<ChunkPtr> head;
  idx_t total = 0;
  ChunkPtr chunk;
  while (total < kMeasuredRows && (chunk = ChunkPtr{duckdb_fetch_chunk(result)})) {
    total += duckdb_data_chunk_get_size(chunk.get());
    head.push_back(std::move(chunk));
  }
  for (const auto& c : head) {
    cols.bind(c.get());
    table.measure(duckdb_data_chunk_get_size(c.get()));
  }
  table.header();
  for (const auto& c : head) {
    cols.bind(c.get());
    table.rows(duckdb_data_chunk_get_size(c.get()));
  }
  head.clear();
  if (total >= kMeasuredRows) {
    while ((chunk = ChunkPtr{duckdb_fetch_chunk(result)})) {
      idx_t rows = duckdb_data_chunk_get_size(chunk.get());
      cols.bind(chunk.get());
      table.rows(rows);
      total += rows;
    }
  }
  if (fetchFailed(result)) return false;
  out.write(total == 1 ? std::string("(1 row)\n") : "(" + std::to_string(total) + " rows)\n");
  return true;
}

// The engine's name of a column type; nested types by their kind only.
std::string typeName(duckdb_logical_type type) {
  switch (duckdb_get_type_id(type)) {
    // clang-format off
    case DUCKDB_TYPE_BOOLEAN: return "BOOLEAN";
    case DUCKDB_TYPE_TINYINT: return "TINYINT";
    case DUCKDB_TYPE_SMALLINT: return "SMALLINT";
    case DUCKDB_TYPE_INTEGER: return "INTEGER";
    case DUCKDB_TYPE_BIGINT: return "BIGINT";
    case DUCKDB_TYPE_UTINYINT: return "UTINYINT";
    case DUCKDB_TYPE_USMALLINT: return "USMALLINT";
    case DUCKDB_TYPE_UINTEGER: return "UINTEGER";
    case DUCKDB_TYPE_UBIGINT: return "UBIGINT";
    case DUCKDB_TYPE_HUGEINT: return "HUGEINT";
    case DUCKDB_TYPE_UHUGEINT: return "UHUGEINT";
    case DUCKDB_TYPE_FLOAT: return "FLOAT";
    case DUCKDB_TYPE_DOUBLE: return "DOUBLE";
    case DUCKDB_TYPE_DATE: return "DATE";
    case DUCKDB_TYPE_TIME: return "TIME";
    case DUCKDB_TYPE_TIME_NS: return "TIME_NS";
    case DUCKDB_TYPE_TIME_TZ: return "TIME WITH TIME ZONE";
    case DUCKDB_TYPE_TIMESTAMP: return "TIMESTAMP";
    case DUCKDB_TYPE_TIMESTAMP_S: return "TIMESTAMP_S";
    case DUCKDB_TYPE_TIMESTAMP_MS: return "TIMESTAMP_MS";
    case DUCKDB_TYPE_TIMESTAMP_NS: return "TIMESTAMP_NS";
    case DUCKDB_TYPE_TIMESTAMP_TZ: return "TIMESTAMP WITH TIME ZONE";
    case DUCKDB_TYPE_INTERVAL: return "INTERVAL";
    case DUCKDB_TYPE_VARCHAR: return "VARCHAR";
    case DUCKDB_TYPE_BLOB: return "BLOB";
    case DUCKDB_TYPE_BIT: return "BIT";
    case DUCKDB_TYPE_BIGNUM: return "BIGNUM";
    case DUCKDB_TYPE_UUID: return "UUID";
    case DUCKDB_TYPE_ENUM: return "ENUM";
    case DUCKDB_TYPE_LIST: return "LIST";
    case DUCKDB_TYPE_ARRAY: return "ARRAY";
    case DUCKDB_TYPE_STRUCT: return "STRUCT";
    case DUCKDB_TYPE_MAP: return "MAP";
    case DUCKDB_TYPE_UNION: return "UNION";
    case DUCKDB_TYPE_SQLNULL: return "NULL";
    // clang-format on
    case DUCKDB_TYPE_DECIMAL:
      return "DECIMAL(" + std::to_string(duckdb_decimal_width(type)) + "," +
             std::to_string(duckdb_decimal_scale(type)) + ")";
    default:
      return "UNKNOWN";
  }
}

}  // namespace

void printColumns(duckdb_result& result, Sink& out) {
  if (duckdb_result_return_type(result) != DUCKDB_RESULT_TYPE_QUERY_RESULT) return;
  out.write(std::string_view("{\"columns\":["));
  idx_t count = duckdb_column_count(&result);
  for (idx_t i = 0; i < count; ++i) {
    const char* name = duckdb_column_name(&result, i);
    std::string_view text = name != nullptr ? name : "";
    duckdb_logical_type type = duckdb_column_logical_type(&result, i);
    bool numeric = Column(type).numeric();
    std::string kind = typeName(type);
    duckdb_destroy_logical_type(&type);
    out.write(std::string_view(i == 0 ? "{\"name\":" : ",{\"name\":"));
    writeJsonString(out, text.data(), text.size());
    out.write(std::string_view(",\"type\":"));
    writeJsonString(out, kind.data(), kind.size());
    out.write(numeric ? std::string_view(",\"numeric\":true}")
                      : std::string_view(",\"numeric\":false}"));
  }
  out.write(std::string_view("]}\n"));
}

std::string unsupportedColumn(duckdb_result& result) {
  idx_t count = duckdb_column_count(&result);
  for (idx_t i = 0; i < count; ++i) {
    duckdb_logical_type type = duckdb_column_logical_type(&result, i);
    bool supported = Column(type).supported();
    duckdb_destroy_logical_type(&type);
    if (!supported) {
      const char* name = duckdb_column_name(&result, i);
      return std::string("Unsupported result type in column \"") + (name != nullptr ? name : "") +
             "\": cast it to VARCHAR";
    }
  }
  return "";
}

bool printResult(duckdb_result& result, OutputMode mode, Sink& out, std::string& error) {
  // Changed-row counts and statements without an answer print nothing.
  if (duckdb_result_return_type(result) != DUCKDB_RESULT_TYPE_QUERY_RESULT) return true;
  error = unsupportedColumn(result);
  if (!error.empty()) return false;
  bool ok = mode == OutputMode::kJson   ? printJson(result, out)
            : mode == OutputMode::kHeld ? printHeld(result, out)
                                        : printTable(result, out);
  if (!ok) {
    const char* message = duckdb_result_error(&result);
    error = message != nullptr ? message : "";
  }
  return ok;
}

}  // namespace plinthos::engine
