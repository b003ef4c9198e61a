#include "services/schema.h"

#include "common/messages.h"
#include "services/folders.h"
#include "services/sources.h"

namespace plinthos {

namespace {
constexpr EngineJob kSchemaJob{"/tmp/duckschema_", OutputMode::Json, messages::kSchemaQueryFailed};
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

std::optional<std::vector<SchemaColumn>> schemaFromOutput(const std::string& output) {
  json parsed = json::parse(output, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  std::vector<SchemaColumn> columns;
  if (parsed.is_array()) {
    for (const auto& element : parsed) {
      if (!element.is_object()) return std::nullopt;
      auto name = textMember(element, "column_name");
      auto type = textMember(element, "column_type");
      if (!name || !type) return std::nullopt;
      if (name->empty()) continue;
      columns.push_back(SchemaColumn{std::move(*name), std::move(*type)});
    }
  }
  return columns;
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

Result<std::vector<SchemaColumn>> getSchema(const std::string& sql, const ServiceEnv& env) {
  std::string folder = workingFolder(env.exePath);
  auto statement = describeStatement(folder, sql);
  if (!statement) return Failure{messages::kNoDataSource};
  auto run = runJob(env, folder, *statement, kSchemaJob);
  auto* output = std::get_if<std::string>(&run);
  if (!output) return passOn<std::vector<SchemaColumn>>(std::move(run));
  if (auto columns = schemaFromOutput(*output)) return std::move(*columns);
  return Failure{std::move(*output)};
}

}  // namespace plinthos
