#include "services/conversion.h"

#include <filesystem>

#include "bridge/bridge_io.h"
#include "bridge/messages.h"
#include "services/bucket.h"
#include "services/paths.h"
#include "services/sources.h"

namespace fs = std::filesystem;

namespace plinthos {

namespace {
constexpr const char* kScriptPrefix = "/tmp/duckconv_";
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

std::string conversionFolder(const std::string& exePath) {
  if (auto bucket = usableBucketPath()) return *bucket;
  std::string listed = defaultListingRoot(exePath);
  if (namesFolder("", listed)) return listed;
  return applicationFolder(exePath);
}

// Arguments: [csv path], relative to the listed folder or absolute.
// Reply: {"ok": parquet path} (the path as computed, quotes and all).
// Failures: {"error": text} with "Failed to create temp file", "Failed to run database
// engine", or the engine's output on a non-zero exit (else "Conversion failed"); also for
// arguments that are not [text].
std::string csv2parquetCpp(const std::string& args, const ServiceEnv& env) {
  return guarded(
      [&] {
        std::string problem;
        auto values = readTextArgs(args, 1, &problem);
        if (!values) return errorReply(problem);
        const std::string& source = (*values)[0];
        std::string target = parquetPathFor(source);
        EngineRun run =
            runEngine(conversionFolder(env.exePath), env.duckdbPath,
                      conversionStatement(source, target), kScriptPrefix, OutputMode::Default);
        if (auto failed = failedRunReply(run, messages::kConversionFailed)) return *failed;
        return toReply(json{{"ok", target}});
      },
      [](const std::string& what) { return errorReply(messages::kInternalError + what); });
}

}  // namespace plinthos
