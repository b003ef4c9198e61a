#include "app/bridge_table.h"

#include <exception>
#include <type_traits>
#include <utility>

#include "app/replies.h"
#include "common/messages.h"
#include "services/bucket.h"
#include "services/conversion.h"
#include "services/export.h"
#include "services/page_service.h"
#include "services/query.h"
#include "services/schema.h"
#include "store/config.h"
#include "store/dashboards.h"
#include "store/saved_queries.h"

namespace plinthos {

namespace {

constexpr const char* kUnknownFailure = "unknown failure";
// When even the failure reply cannot be built (no memory left), a constant is all there is.
constexpr const char* kLastResortReply = "{\"error\":\"Internal error\"}";
constexpr const char* kDefaultFilters = "[]";
constexpr const char* kDefaultPathToFiles = "";
constexpr const char* kDefaultFileType = "csv";

// A call outside the argument contract: the pages never make one.
struct BadCall {
  std::string problem;
};

// The argument array of one call, parsed strictly; arguments are read by position.
class Args {
 public:
  explicit Args(const std::string& text) : array_(json::parse(text, nullptr, false)) {
    if (!array_.is_array()) throw BadCall{messages::kArgsNotArray};
  }

  std::size_t size() const { return array_.size(); }

  std::string text(std::size_t index) const {
    if (index < array_.size() && array_[index].is_string()) {
      return array_[index].get<std::string>();
    }
    throw BadCall{messages::kArgMissingText + std::to_string(index + 1)};
  }

  // An optional trailing text: `fallback` when the array is too short or the page passed
  // undefined (null).
  std::string textOr(std::size_t index, const char* fallback) const {
    if (index >= array_.size() || array_[index].is_null()) return fallback;
    return text(index);
  }

 private:
  json array_;
};

// A text argument that holds JSON, parsed; `notJson` leads the parser's explanation.
json parsedArgument(const std::string& text, const char* notJson) {
  try {
    return json::parse(text);
  } catch (const json::parse_error& e) {
    throw BadCall{notJson + std::string(e.what())};
  }
}

// What a function answers when it cannot do its work. Unset: the error object, with the
// problem of the call or with what was thrown.
struct Fallback {
  std::optional<std::string> badCall;
  std::optional<std::string> thrown;
};

std::string thrownReply(const Fallback& fallback, const char* what) {
  if (fallback.thrown) return *fallback.thrown;
  return errorReply(messages::kInternalError + std::string(what));
}

// The boundary around one function. A body that takes no arguments never looks at the text.
template <typename Body>
BridgeFunction bound(Body body, Fallback fallback = {}) {
  return [body = std::move(body), fallback = std::move(fallback)](const std::string& text) {
    try {
      try {
        if constexpr (std::is_invocable_v<const Body&, const Args&>) {
          return body(Args(text));
        } else {
          return body();
        }
      } catch (const BadCall& bad) {
        return fallback.badCall ? *fallback.badCall : errorReply(bad.problem);
      } catch (const std::exception& e) {
        return thrownReply(fallback, e.what());
      } catch (...) {
        return thrownReply(fallback, kUnknownFailure);
      }
    } catch (...) {
      return std::string(kLastResortReply);
    }
  };
}

// The reply of a result: the value shaped by `shape`, the error object or the cancelled one.
template <typename T, typename Shape>
std::string replyOf(Result<T>&& result, Shape shape) {
  if (auto* value = std::get_if<T>(&result)) return shape(std::move(*value));
  if (auto* failure = std::get_if<Failure>(&result)) return errorReply(failure->message);
  return cancelledReply();
}

std::string statusReply(const Status& status, const std::string& done) {
  return status ? errorReply(status->message) : done;
}

std::string okText() {
  return stringReply("ok");
}

std::string okTrue() {
  return toReply(json{{"ok", true}});
}

std::string okPath(const std::string& path) {
  return toReply(json{{"ok", path}});
}

std::string listingReply(Listing listing) {
  if (auto* tree = std::get_if<JsonText>(&listing)) return std::move(tree->text);
  if (auto* missing = std::get_if<BucketNotFound>(&listing)) {
    return toReply(json{{"error", messages::kBucketNotFound}, {"bucketPath", missing->root}});
  }
  return errorReply(std::get<Failure>(listing).message);
}

std::string schemaReply(const std::vector<SchemaColumn>& columns) {
  json list = json::array();
  for (const auto& column : columns) {
    list.push_back(json{{"name", column.name}, {"type", column.type}});
  }
  return toReply(json{{"columns", std::move(list)}});
}

std::string saveReply(SaveOutcome outcome) {
  switch (outcome) {
    case SaveOutcome::Saved:
      return stringReply(messages::kSaveOk);
    case SaveOutcome::Cancelled:
      return stringReply(messages::kSaveCancelled);
    case SaveOutcome::WriteFailed:
      break;
  }
  return stringReply(messages::kSaveWriteFailed);
}

}  // namespace

std::vector<BridgeBinding> bridgeTable(const BridgeEnv& env) {
  const ServiceEnv services{env.exePath, env.duckdbPath};
  const std::string exe = env.exePath;
  Dialogs* dialogs = env.dialogs;
  // getPage, the folder chooser and the two getters answer their empty value whatever happens.
  const Fallback emptyText{stringReply(""), stringReply("")};
  const Fallback emptyList{std::nullopt, toReply(json::array())};
  return {
      // [page id] -> the page text, "" for any other id.
      {"getPage", bound([](const Args& a) { return stringReply(pageText(a.text(0))); }, emptyText)},
      // [] -> the stored data folder, "".
      {"getBucketPathCpp", bound([] { return stringReply(getBucketPath()); }, emptyText)},
      // [path] -> "ok".
      {"setBucketPathCpp",
       bound([](const Args& a) { return statusReply(setBucketPath(a.text(0)), okText()); })},
      // [] -> the chosen folder, "" when cancelled.
      {"chooseFolderCpp",
       bound([dialogs] { return stringReply(chooseFolder(dialogs).value_or("")); }, emptyText)},
      // [] -> the tree, or {"bucketPath", "error"} when the root does not exist.
      {"listBucketCpp", bound([exe] { return listingReply(listBucket(exe)); })},
      // [csv path] -> {"ok": parquet path}.
      {"csv2parquetCpp", bound([services](const Args& a) {
         return replyOf(csv2parquet(a.text(0), services), okPath);
       })},
      // [sql, stop tag?] -> {"columns", "numericCols", "rows"}.
      {"queryDuckCpp", bound([services](const Args& a) {
         return replyOf(queryDuck(a.text(0), services),
                        [](JsonText result) { return std::move(result.text); });
       }),
       kQueryStopTagAt},
      // [] -> the saved queries.
      {"getSavedQueriesCpp", bound([] { return toReply(getSavedQueries()); }, emptyList)},
      // [name, sql] -> "ok".
      {"saveQueryCpp",
       bound([](const Args& a) { return statusReply(saveQuery(a.text(0), a.text(1)), okText()); })},
      // [name] -> "ok".
      {"deleteQueryCpp",
       bound([](const Args& a) { return statusReply(deleteQuery(a.text(0)), okText()); })},
      // [] -> the dashboards.
      {"getDashboardsCpp", bound([] { return toReply(getDashboards()); }, emptyList)},
      // [name, layout JSON, filters JSON = "[]", path to files = "", file type = "csv"]
      // -> {"ok":true}.
      {"saveDashboardCpp", bound([](const Args& a) {
         Dashboard dashboard{a.text(0), {}, {}, {}, {}};
         const std::string layout = a.text(1);
         const std::string filters = a.textOr(2, kDefaultFilters);
         dashboard.pathToFiles = a.textOr(3, kDefaultPathToFiles);
         dashboard.fileType = a.textOr(4, kDefaultFileType);
         dashboard.layout = parsedArgument(layout, messages::kLayoutNotJson);
         dashboard.filters = parsedArgument(filters, messages::kFiltersNotJson);
         return statusReply(saveDashboard(dashboard), okTrue());
       })},
      // [name] -> {"ok":true}.
      {"deleteDashboardCpp",
       bound([](const Args& a) { return statusReply(deleteDashboard(a.text(0)), okTrue()); })},
      // [sql, stop tag?] -> {"columns": [{"name", "type"}...]}; stoppable like a query, so an
      // editor can end a run for a folder the user has already left.
      {"getSchemaCpp", bound([services](const Args& a) {
         return replyOf(getSchema(a.text(0), services), schemaReply);
       }),
       kQueryStopTagAt},
      // [csv text] -> "ok", "cancelled" or "error: could not write file".
      {"saveCsvCpp",
       bound([dialogs](const Args& a) { return saveReply(saveCsv(a.text(0), dialogs)); },
             Fallback{stringReply(messages::kSaveBadArguments),
                      saveReply(SaveOutcome::WriteFailed)})},
      // [sql, setup?] -> {"ok": destination} or {"cancelled": true}.
      {"exportToCsvCpp", bound([services, dialogs](const Args& a) {
         const std::string sql = a.text(0);
         const std::string setup = a.size() > 1 ? a.text(1) : std::string();
         return replyOf(exportToCsv(sql, setup, services, dialogs), okPath);
       })},
  };
}

BridgeFunction stopFunction(std::function<std::size_t(const std::string& tag)> stop) {
  const Fallback noneStopped{toReply(json{{"stopped", 0}}), std::nullopt};
  return bound(
      [stop = std::move(stop)](const Args& a) {
        const std::string tag = a.text(0);
        const std::size_t stopped = tag.empty() ? 0 : stop(tag);
        return toReply(json{{"stopped", stopped}});
      },
      noneStopped);
}

std::string stopTagOf(const BridgeBinding& binding, const std::string& args) {
  if (!binding.stopTagAt) return {};
  json parsed = json::parse(args, nullptr, false);
  const std::size_t at = *binding.stopTagAt;
  if (!parsed.is_array() || at >= parsed.size() || !parsed[at].is_string()) return {};
  return parsed[at].get<std::string>();
}

std::optional<std::string> failedRunReply(const EngineRun& run, const char* emptyMessage) {
  auto setback = runSetback(run, emptyMessage);
  if (!setback) return std::nullopt;
  if (auto* failure = std::get_if<Failure>(&*setback)) return errorReply(failure->message);
  return cancelledReply();
}

}  // namespace plinthos
