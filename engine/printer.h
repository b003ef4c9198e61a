#pragma once

#include "duckdb.h"
#include "engine/sink.h"

namespace plinthos::engine {

enum class OutputMode { kTable, kJson };

// Streams the rows of one executed statement to `out`, chunk by chunk. Returns false when
// fetching failed; the engine's message is then in the result.
bool printResult(duckdb_result& result, OutputMode mode, Sink& out);

}  // namespace plinthos::engine
