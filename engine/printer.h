#pragma once

#include <string>

#include "duckdb.h"
#include "engine/sink.h"

namespace plinthos::engine {

// kHeld: the layout of common/held_layout.h, for the last statement only.
enum class OutputMode { kTable, kJson, kHeld };

// Streams the rows of one executed statement to `out`, chunk by chunk. Returns false with
// the message in `error` when fetching failed or a column's type cannot be printed.
bool printResult(duckdb_result& result, OutputMode mode, Sink& out, std::string& error);

// One line {"columns":[{"name","type","numeric"}...]} describing the statement's answer, so that
// an answer without rows still has its columns and a column's kind never depends on its first
// value. Prints nothing for a statement that does not answer with rows.
void printColumns(duckdb_result& result, Sink& out);

}  // namespace plinthos::engine
