#include "services/conversion.h"

#include <filesystem>

#include "common/messages.h"
#include "services/folders.h"
#include "services/sources.h"

namespace fs = std::filesystem;

namespace plinthos {

namespace {
constexpr EngineJob kConversionJob{"/tmp/duckconv_", OutputMode::Default,
                                   messages::kConversionFailed};
constexpr const char* kParquetExtension = ".parquet";
}  // namespace

std::string parquetPathFor(const std::string& csvPath) {
  fs::path source(csvPath);
  return (source.parent_path() / source.stem()).string() + kParquetExtension;
}

std::string conversionStatement(const std::string& csvPath, const std::string& parquetPath) {
  return "COPY (SELECT * FROM read_csv('" + sqlQuoted(csvPath) + "')) TO '" +
         sqlQuoted(parquetPath) + "' (FORMAT PARQUET)";
}

Result<std::string> csv2parquet(const std::string& csvPath, const ServiceEnv& env) {
  std::string target = parquetPathFor(csvPath);
  auto run = runJob(env, conversionFolder(env.exePath), conversionStatement(csvPath, target),
                    kConversionJob);
  if (!std::holds_alternative<std::string>(run)) return run;
  return target;
}

}  // namespace plinthos
