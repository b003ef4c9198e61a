#pragma once
// The query service: one SQL text through the engine in JSON mode, answered as a query result
// {"columns":[...],"numericCols":[...],"rows":[...]}, with "nulls":[[row,column]...] after the
// rows when some cells are NULL (their text in rows is empty, as an empty string's is).
#include <cstddef>
#include <optional>
#include <string>

#include "services/engine_runner.h"

namespace plinthos {

// How much output the fast parser takes at a time.
inline constexpr std::size_t kResultBatchBytes = 1 << 20;

// The query result for the engine's JSON output, or nullopt when it is not one array of row
// objects (the caller then answers with the raw output).
std::optional<std::string> queryResultFromOutput(const std::string& output,
                                                 std::size_t batchBytes = kResultBatchBytes);

// Runs `sql` (folder arguments of read_csv/read_parquet expanded to file patterns) in the working
// folder: the query result. Failures: no temp script, engine not started, the engine's message
// (else "Query failed"), or the raw output when it is not one JSON array of row objects.
// Cancelled when stopped.
Result<JsonText> queryDuck(const std::string& sql, const ServiceEnv& env);

}  // namespace plinthos
