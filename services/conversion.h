#pragma once
// CSV to Parquet: the engine copies one CSV file into a Parquet file beside it.
#include <optional>
#include <string>

#include "services/engine_runner.h"

namespace plinthos {

// S's parent joined with S's stem, then ".parquet" (relative stays relative).
std::string parquetPathFor(const std::string& csvPath);

// COPY (SELECT * FROM read_csv('S')) TO 'O' (FORMAT PARQUET), quotes in S and O doubled.
std::string conversionStatement(const std::string& csvPath, const std::string& parquetPath);

// What to do when the Parquet file is there already.
enum class ExistingParquet { Keep, Replace };

struct Conversion {
  std::string parquetPath;                  // the file written
  std::optional<std::string> keptExisting;  // the computed path, when a file there was kept
};

// Has the engine copy the CSV file `csvPath` (relative to the listed folder, or absolute) into a
// Parquet file beside it. An existing file at the computed path is replaced only when asked;
// otherwise the copy goes to "stem (2).parquet" (or the next free number) and says so.
// Failures: no free name, no temp script, engine not started, the engine's message (else
// "Conversion failed"). Cancelled when stopped.
Result<Conversion> csv2parquet(const std::string& csvPath, const ServiceEnv& env,
                               ExistingParquet existing = ExistingParquet::Keep);

}  // namespace plinthos
