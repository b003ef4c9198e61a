#pragma once
// CSV to Parquet: the engine copies one CSV file into a Parquet file beside it.
#include <string>

#include "services/engine_runner.h"

namespace plinthos {

// S's parent joined with S's stem, then ".parquet" (relative stays relative).
std::string parquetPathFor(const std::string& csvPath);

// COPY (SELECT * FROM read_csv('S')) TO 'O' (FORMAT PARQUET), quotes in S and O doubled.
std::string conversionStatement(const std::string& csvPath, const std::string& parquetPath);

// Has the engine copy the CSV file `csvPath` (relative to the listed folder, or absolute) into a
// Parquet file beside it: the Parquet file's path as computed. Failures: no temp script, engine
// not started, the engine's message (else "Conversion failed"). Cancelled when stopped.
Result<std::string> csv2parquet(const std::string& csvPath, const ServiceEnv& env);

}  // namespace plinthos
