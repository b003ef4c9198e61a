#pragma once
// The query service: one SQL text through the engine in JSON mode, answered as a query result
// {"columns":[...],"numericCols":[...],"rows":[...]}.
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

// Bridge: [sql] -> query result, or {"error": text}: a fixed message, or the engine's output
// when it failed or printed something that is not one JSON array.
std::string queryDuckCpp(const std::string& args, const ServiceEnv& env);

}  // namespace plinthos
