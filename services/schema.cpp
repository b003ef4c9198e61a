#include "services/schema.h"

#include "bridge/bridge_io.h"
#include "bridge/messages.h"
#include "services/sources.h"

namespace plinthos {

namespace {
constexpr const char* kScriptPrefix = "/tmp/duckschema_";
constexpr const char* kDescribe = "DESCRIBE SELECT * FROM ";

struct SourceKind {
  const char* function;
  const char* extension;
};
// read_csv anywhere wins over an earlier read_parquet.
constexpr SourceKind kSourceKinds[] = {{"read_csv", "csv"}, {"read_parquet", "parquet"}};

// A member read as text: absent is "", anything but a string is a failure.
std::optional<std::string> textMember(const json& element, const char* key) {
  auto it = element.find(key);
  if (it == element.end()) return std::string();
  if (!it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<std::string> schemaFromOutput(const std::string& output) {
  json parsed = json::parse(output, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  json columns = json::array();
  if (parsed.is_array()) {
    for (const auto& element : parsed) {
      if (!element.is_object()) return std::nullopt;
      auto name = textMember(element, "column_name");
      auto type = textMember(element, "column_type");
      if (!name || !type) return std::nullopt;
      if (name->empty()) continue;
      columns.push_back(json{{"name", *name}, {"type", *type}});
    }
  }
  return toReply(json{{"columns", columns}});
}
}  // namespace

std::optional<std::string> describeStatement(const std::string& workingFolder,
                                             const std::string& sql) {
  for (const auto& kind : kSourceKinds) {
    auto call = findSourceCall(sql, kind.function);
    if (!call) continue;
    return kDescribe + expandedCall(workingFolder, *call, kind.function, kind.extension);
  }
  return std::nullopt;
}

// Arguments: [sql]; only its first data source is looked at, the query itself is not run.
// Reply: {"columns":[{"name":..,"type":..},...]} in the engine's order.
// Failures: {"error": text} with "No data source found in query", "Failed to create temp
// file", "Failed to run database engine", the engine's output on a non-zero exit (else "Schema
// query failed"), or the raw output when it is not an array of objects; also for arguments
// that are not [text].
std::string getSchemaCpp(const std::string& args, const ServiceEnv& env) {
  return guarded(
      [&] {
        std::string problem;
        auto values = readTextArgs(args, 1, &problem);
        if (!values) return errorReply(problem);
        std::string folder = workingFolder(env.exePath);
        auto statement = describeStatement(folder, (*values)[0]);
        if (!statement) return errorReply(messages::kNoDataSource);
        EngineRun run =
            runEngine(folder, env.duckdbPath, *statement, kScriptPrefix, OutputMode::Json);
        if (auto failed = failedRunReply(run, messages::kSchemaQueryFailed)) return *failed;
        if (auto result = schemaFromOutput(run.output)) return *result;
        return errorReply(run.output);
      },
      [](const std::string& what) { return errorReply(messages::kInternalError + what); });
}

}  // namespace plinthos
