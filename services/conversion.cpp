#include "services/conversion.h"

#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "common/messages.h"
#include "services/folders.h"
#include "services/sources.h"

namespace fs = std::filesystem;

namespace plinthos {

namespace {
constexpr EngineJob kConversionJob{"/tmp/duckconv_", OutputMode::Default,
                                   messages::kConversionFailed};
constexpr const char* kParquetExtension = ".parquet";
constexpr int kMaxFreeNameTries = 1000;

// Conversions run one at a time: two side by side could pick the same free name, or write one
// file together.
std::mutex conversionMutex;

bool entryExists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

// `target`, or when something is there already, the first of "stem (2).parquet", "stem
// (3).parquet"... that is free; nullopt when none is.
std::optional<std::string> freeTarget(const std::string& folder, const std::string& target) {
  auto at = [&](const std::string& p) { return fs::path(folder) / p; };
  if (!entryExists(at(target))) return target;
  fs::path t(target);
  for (int n = 2; n <= kMaxFreeNameTries; ++n) {
    std::string candidate =
        (t.parent_path() / t.stem()).string() + " (" + std::to_string(n) + ")" + kParquetExtension;
    if (!entryExists(at(candidate))) return candidate;
  }
  return std::nullopt;
}
}  // namespace

std::string parquetPathFor(const std::string& csvPath) {
  fs::path source(csvPath);
  return (source.parent_path() / source.stem()).string() + kParquetExtension;
}

std::string conversionStatement(const std::string& csvPath, const std::string& parquetPath) {
  return "COPY (SELECT * FROM read_csv('" + sqlQuoted(csvPath) + "')) TO '" +
         sqlQuoted(parquetPath) + "' (FORMAT PARQUET)";
}

Result<Conversion> csv2parquet(const std::string& csvPath, const ServiceEnv& env,
                               ExistingParquet existing) {
  const std::string folder = conversionFolder(env.exePath);
  std::lock_guard one(conversionMutex);
  Conversion done{parquetPathFor(csvPath), std::nullopt};
  if (existing == ExistingParquet::Keep) {
    auto free = freeTarget(folder, done.parquetPath);
    if (!free) return Failure{messages::kNoFreeParquetName + done.parquetPath};
    if (*free != done.parquetPath) done.keptExisting = std::exchange(done.parquetPath, *free);
  }
  // The source is one file, whatever pattern characters its name holds.
  const std::string source = namesEntry(folder, csvPath) ? literalPattern(csvPath) : csvPath;
  auto run = runJob(env, folder, conversionStatement(source, done.parquetPath), kConversionJob);
  if (!std::holds_alternative<std::string>(run)) return passOn<Conversion>(std::move(run));
  return done;
}

}  // namespace plinthos
