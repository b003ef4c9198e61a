#pragma once
// The query service: one SQL text through the engine in JSON mode, answered as a query result
// {"columns":[...],"numericCols":[...],"rows":[...]}.
#include <optional>
#include <string>

#include "services/engine_runner.h"

namespace plinthos {

// The query result for the engine's JSON output, or nullopt when it is not one array of row
// objects (the caller then answers with the raw output).
std::optional<std::string> queryResultFromOutput(const std::string& output);

// The same, converted while the engine is still writing: `output`'s pieces are read up to the
// end of the one JSON value and whatever follows it.
std::optional<std::string> queryResultFromOutput(EngineOutput& output);

// Bridge: [sql] -> query result, or {"error": text}: a fixed message, or the engine's output
// when it failed or printed something that is not one JSON array.
std::string queryDuckCpp(const std::string& args, const ServiceEnv& env);

}  // namespace plinthos
