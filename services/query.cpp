#include "services/query.h"

#include "services/messages.h"
#include "services/sources.h"
#include "store/bridge_io.h"

namespace plinthos {

namespace {
constexpr const char* kScriptPrefix = "/tmp/duckquery_";

// A cell as text: strings as they are, null as "", anything else as compact JSON of the plain
// (member-sorted) form, so 3.0 stays "3.0" and {"b":1,"a":2} reads {"a":2,"b":1}.
std::string cellText(const ordered_json& value) {
  if (value.is_null()) return {};
  if (value.is_string()) return value.get<std::string>();
  return toReply(json(value));
}
}  // namespace

std::optional<std::string> queryResultFromOutput(const std::string& output) {
  ordered_json parsed = ordered_json::parse(output, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;

  ordered_json columns = ordered_json::array();
  ordered_json numeric = ordered_json::array();
  ordered_json rows = ordered_json::array();
  if (parsed.is_array() && !parsed.empty()) {
    const ordered_json& first = parsed.front();
    if (!first.is_object()) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(first.size());
    for (const auto& [name, value] : first.items()) {
      names.push_back(name);
      columns.push_back(name);
      numeric.push_back(value.is_number());
    }
    for (const auto& element : parsed) {
      if (!element.is_object()) return std::nullopt;
      ordered_json row = ordered_json::array();
      for (const auto& name : names) {
        auto it = element.find(name);
        row.push_back(it == element.end() ? std::string() : cellText(*it));
      }
      rows.push_back(std::move(row));
    }
  }
  ordered_json result = ordered_json::object();
  result["columns"] = std::move(columns);
  result["numericCols"] = std::move(numeric);
  result["rows"] = std::move(rows);
  return toReply(result);
}

// Arguments: [sql]; folder arguments of read_csv/read_parquet are expanded to file patterns.
// Reply: {"columns":[...],"numericCols":[...],"rows":[...]}.
// Failures: {"error": text} with "Failed to create temp file", "Failed to run database engine",
// the engine's output on a non-zero exit (else "Query failed"), or the raw output when it is
// not one JSON array of objects; also for arguments that are not [text].
std::string queryDuckCpp(const std::string& args, const ServiceEnv& env) {
  return guarded(
      [&] {
        std::string problem;
        auto values = readTextArgs(args, 1, &problem);
        if (!values) return errorReply(problem);
        std::string folder = workingFolder(env.exePath);
        std::string sql = expandAllSourceFolders(folder, (*values)[0]);
        EngineRun run = runEngine(folder, env.duckdbPath, sql, kScriptPrefix, OutputMode::Json);
        if (auto failed = failedRunReply(run, messages::kQueryFailed)) return *failed;
        if (auto result = queryResultFromOutput(run.output)) return *result;
        return errorReply(run.output);
      },
      [](const std::string& what) { return errorReply(messages::kInternalError + what); });
}

}  // namespace plinthos
