#pragma once

#include <string>

#include "duckdb.h"
#include "engine/sink.h"

namespace plinthos::engine {

enum class OutputMode { kTable, kJson };

// Streams the rows of one executed statement to `out`, chunk by chunk. Returns false with
// the message in `error` when fetching failed or a column's type cannot be printed.
bool printResult(duckdb_result& result, OutputMode mode, Sink& out, std::string& error);

}  // namespace plinthos::engine
