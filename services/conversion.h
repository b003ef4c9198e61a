#pragma once
// CSV to Parquet: the engine copies one CSV file into a Parquet file beside it.
#include <string>

#include "services/engine_runner.h"

namespace plinthos {

// S's parent joined with S's stem, then ".parquet" (relative stays relative).
std::string parquetPathFor(const std::string& csvPath);

// COPY (SELECT * FROM read_csv('S')) TO 'O' (FORMAT PARQUET), quotes in S and O doubled.
std::string conversionStatement(const std::string& csvPath, const std::string& parquetPath);

// Where the conversion runs: the working folder when a data folder is usable; otherwise the
// listed bucket folder beside the application (so a listed relative path names the file the
// engine opens), or the application folder when that does not exist either.
std::string conversionFolder(const std::string& exePath);

// Bridge: [csv path] -> {"ok": parquet path}, or {"error": text}.
std::string csv2parquetCpp(const std::string& args, const ServiceEnv& env);

}  // namespace plinthos
