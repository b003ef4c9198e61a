#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "duckdb.h"
#include "engine/sink.h"

namespace plinthos::engine {

// Writes the values of one result column (or of a nested child) straight from the chunk's
// vectors. Built once per result from the column's type; bound to each new chunk.
class Column {
 public:
  explicit Column(duckdb_logical_type type);
  ~Column();
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;

  // False when the library cannot describe the type (or a nested one) to its clients.
  bool supported() const;

  void bind(duckdb_vector vector);

  bool valid(idx_t row) const {
    return validity_ == nullptr || ((validity_[row / 64] >> (row % 64)) & 1) != 0;
  }
  // JSON value: number, string, true/false, null, array or object.
  void writeJson(Sink& out, idx_t row) const;
  // The engine's text form; NULL as "NULL".
  void writeText(Sink& out, idx_t row) const;
  // True for numbers, which a table aligns to the right.
  bool numeric() const;
  // How the held layout (common/held_layout.h) carries this column's cells.
  uint8_t heldKind() const;
  // Rows [0, rows) of the bound chunk in the held layout: the kind, the cells, the validity.
  void writeHeld(Sink& out, idx_t rows) const;

 private:
  // The text form of a non-null scalar, JSON-escaped when `json`.
  void writeScalarText(Sink& out, idx_t row, bool json) const;
  void writeEngineText(Sink& out, idx_t row, bool json) const;
  void writeNumber(Sink& out, idx_t row, bool json) const;
  void writeNestedText(Sink& out, idx_t row) const;
  // A value of an integer type narrower than 64 bits, or BIGINT, as int64.
  int64_t smallInteger(idx_t row) const;
  template <typename T>
  const T& at(idx_t row) const {
    return static_cast<const T*>(data_)[row];
  }

  duckdb_type type_;
  duckdb_type internal_ = DUCKDB_TYPE_INVALID;  // storage of DECIMAL and ENUM
  uint8_t scale_ = 0;
  idx_t arraySize_ = 0;
  std::vector<std::unique_ptr<Column>> children_;
  std::vector<std::string> childNames_;  // struct and union member names
  std::vector<std::string> childKeys_;   // the same as JSON object keys with ':'
  std::vector<std::string> enumJson_;    // enum dictionary as JSON strings
  std::vector<std::string> enumText_;

  const void* data_ = nullptr;
  const uint64_t* validity_ = nullptr;
  mutable std::unique_ptr<Sink> scratch_;  // map keys are text, rendered here first
};

}  // namespace plinthos::engine
