#include "app/bridge_table.h"

#include <cstdio>
#include <exception>
#include <new>
#include <type_traits>
#include <utility>

#include "app/replies.h"
#include "common/messages.h"
#include "services/bucket.h"
#include "services/conversion.h"
#include "services/export.h"
#include "services/held.h"
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
constexpr const char* kNullReply = "null";
constexpr std::size_t kTimingLineSize = 200;
constexpr const char* kReplaceExisting = "replace";

// A call outside the argument contract: the pages never make one.
struct BadCall {
  std::string problem;
};

// One function's reading of a call's arguments; a call outside the contract is a BadCall.
class Args {
 public:
  explicit Args(const CallArgs& args) : args_(args) {
    if (!args.isArray()) throw BadCall{messages::kArgsNotArray};
  }

  std::size_t size() const { return args_.size(); }
  const json* at(std::size_t index) const { return args_.at(index); }

  const std::string& text(std::size_t index) const {
    const json* value = args_.at(index);
    if (value && value->is_string()) return value->get_ref<const std::string&>();
    throw BadCall{messages::kArgMissingText + std::to_string(index + 1)};
  }

  // An optional trailing text: `fallback` when the array is too short or the page passed
  // undefined (null).
  std::string textOr(std::size_t index, const char* fallback) const {
    const json* value = args_.at(index);
    if (!value || value->is_null()) return fallback;
    return text(index);
  }

 private:
  const CallArgs& args_;
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

// The boundary around one function. A body that takes no arguments never looks at them.
template <typename Body>
BridgeFunction bound(Body body, Fallback fallback = {}) {
  return [body = std::move(body), fallback = std::move(fallback)](const CallArgs& args) {
    try {
      try {
        if constexpr (std::is_invocable_v<const Body&, const CallArgs&>) {
          return body(args);
        } else if constexpr (std::is_invocable_v<const Body&, const Args&>) {
          return body(Args(args));
        } else {
          return body();
        }
      } catch (const BadCall& bad) {
        return fallback.badCall ? *fallback.badCall : errorReply(bad.problem);
      } catch (const std::bad_alloc&) {
        return fallback.thrown ? *fallback.thrown : errorReply(messages::kOutOfMemory);
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

std::string okText(Done) {
  return stringReply("ok");
}

std::string okTrue(Done) {
  return compactJson(json{{"ok", true}});
}

std::string okPath(const std::string& path) {
  return compactJson(json{{"ok", path}});
}

std::string conversionReply(const Conversion& done) {
  json reply{{"ok", done.parquetPath}};
  if (done.keptExisting) reply["existing"] = *done.keptExisting;
  return compactJson(reply);
}

std::string listingReply(Listing listing) {
  if (auto* tree = std::get_if<JsonText>(&listing)) return std::move(tree->text);
  const auto& missing = std::get<BucketNotFound>(listing);
  return compactJson(json{{"error", messages::kBucketNotFound}, {"bucketPath", missing.root}});
}

// A round of the listing when the call asks for one; any other arguments ask for the whole tree,
// as they always have.
std::optional<ListingRound> listingRoundOf(const CallArgs& args) {
  const json* options = args.at(0);
  if (!options || !options->is_object()) return std::nullopt;
  auto limit = options->find("limit");
  if (limit == options->end() || !limit->is_number_unsigned()) {
    throw BadCall{"The listing's limit must be a whole number"};
  }
  ListingRound round{limit->get<std::size_t>(), std::nullopt};
  if (auto folders = options->find("folders"); folders != options->end()) {
    if (!folders->is_array()) throw BadCall{"The listing's folders must be a list of paths"};
    round.folders.emplace();
    for (const auto& folder : *folders) {
      if (!folder.is_string()) throw BadCall{"The listing's folders must be a list of paths"};
      round.folders->push_back(folder.get<std::string>());
    }
  }
  return round;
}

std::string schemaReply(const std::vector<SchemaColumn>& columns) {
  json list = json::array();
  for (const auto& column : columns) {
    list.push_back(json{{"name", column.name}, {"type", column.type}});
  }
  return compactJson(json{{"columns", std::move(list)}});
}

// The page's timing line, or nothing when the arguments are not the one object of three numbers.
std::optional<std::string> pageTimingLine(const Args& a) {
  const json* t = a.at(0);
  if (a.size() != 1 || !t->is_object()) return std::nullopt;
  for (const char* key : {"reply", "drawn", "rows"}) {
    if (!t->contains(key) || !(*t)[key].is_number()) return std::nullopt;
  }
  char line[kTimingLineSize];
  std::snprintf(line, sizeof line,
                "plinthos-timing: page, %.0f rows: reply arrived %.1f ms after Run, "
                "first rows drawn %.1f ms after Run\n",
                (*t)["rows"].get<double>(), (*t)["reply"].get<double>(),
                (*t)["drawn"].get<double>());
  return line;
}

}  // namespace

CallArgs::CallArgs(std::string_view text) : array_(json::parse(text, nullptr, false)) {}

std::vector<BridgeBinding> bridgeTable(const BridgeEnv& env) {
  const ServiceEnv services{env.exePath, env.duckdbPath};
  const std::string exe = env.exePath;
  Dialogs* dialogs = env.dialogs;
  // getPage, the folder chooser and the two getters answer their empty value whatever happens.
  const Fallback emptyText{stringReply(""), stringReply("")};
  const Fallback emptyList{std::nullopt, compactJson(json::array())};
  // Unless marked otherwise a function runs in the store lane: engine runs and dialogs are
  // marked, so a save never waits behind a query, nor a query behind an open dialog.
  std::vector<BridgeBinding> table{
      // [page id] -> the page text, "" for any other id.
      {"getPage", bound([](const Args& a) { return stringReply(pageText(a.text(0))); }, emptyText)},
      // [] -> the stored data folder, "".
      {"getBucketPathCpp", bound([] { return stringReply(getBucketPath()); }, emptyText)},
      // [path] -> "ok".
      {"setBucketPathCpp",
       bound([](const Args& a) { return replyOf(setBucketPath(a.text(0)), okText); })},
      // [] -> the chosen folder, "" when cancelled.
      {"chooseFolderCpp",
       bound(
           [dialogs] {
             auto chosen = chooseFolder(dialogs);
             auto* path = std::get_if<std::string>(&chosen);
             return stringReply(path ? *path : "");
           },
           emptyText),
       std::nullopt, Lane::Dialog},
      // [] -> the tree, or {"bucketPath", "error"} when the root does not exist.
      // [] -> the whole tree; [{"limit": n, "folders"?: [relative path...]}] -> one round.
      {"listBucketCpp", bound([exe](const CallArgs& args) {
         std::optional<ListingRound> round = listingRoundOf(args);
         return replyOf(round ? listBucket(exe, *round) : listBucket(exe), listingReply);
       })},
      // [csv path, "replace"?] -> {"ok": parquet path, "existing"?: the path kept in place}.
      {"csv2parquetCpp", bound([services](const Args& a) {
         const auto existing =
             a.textOr(1, "") == kReplaceExisting ? ExistingParquet::Replace : ExistingParquet::Keep;
         return replyOf(csv2parquet(a.text(0), services, existing), conversionReply);
       }),
       std::nullopt, Lane::Engine},
      // [sql, stop tag?] -> {"columns", "numericCols", "rows"}.
      {"queryDuckCpp", bound([services](const Args& a) {
         return replyOf(queryDuck(a.text(0), services),
                        [](JsonText result) { return std::move(result.text); });
       }),
       kQueryStopTagAt, Lane::Engine},
      // [] -> the saved queries.
      {"getSavedQueriesCpp", bound([] { return compactJson(getSavedQueries()); }, emptyList)},
      // [name, sql] -> "ok".
      {"saveQueryCpp",
       bound([](const Args& a) { return replyOf(saveQuery(a.text(0), a.text(1)), okText); })},
      // [name] -> "ok".
      {"deleteQueryCpp",
       bound([](const Args& a) { return replyOf(deleteQuery(a.text(0)), okText); })},
      // [] -> the dashboards.
      {"getDashboardsCpp", bound([] { return compactJson(getDashboards()); }, emptyList)},
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
         return replyOf(saveDashboard(dashboard), okTrue);
       })},
      // [name] -> {"ok":true}.
      {"deleteDashboardCpp",
       bound([](const Args& a) { return replyOf(deleteDashboard(a.text(0)), okTrue); })},
      // [sql, stop tag?] -> {"columns": [{"name", "type"}...]}; stoppable like a query, so an
      // editor can end a run for a folder the user has already left.
      {"getSchemaCpp", bound([services](const Args& a) {
         return replyOf(getSchema(a.text(0), services), schemaReply);
       }),
       kQueryStopTagAt, Lane::Engine},
      // [csv text] -> {"ok": destination} or {"cancelled": true}.
      {"saveCsvCpp",
       bound([dialogs](const Args& a) { return replyOf(saveCsv(a.text(0), dialogs), okPath); }),
       std::nullopt, Lane::Dialog},
      // [sql, setup?] -> {"ok": destination} or {"cancelled": true}. It asks first, then runs
      // the engine; in the dialog lane, so its dialog never opens beside another one.
      {"exportToCsvCpp", bound([services, dialogs](const Args& a) {
         const std::string sql = a.text(0);
         const std::string setup = a.size() > 1 ? a.text(1) : std::string();
         return replyOf(exportToCsv(sql, setup, services, dialogs), okPath);
       }),
       std::nullopt, Lane::Dialog},
      // [sql, place, stop tag?] -> {"answer", "columns", "types", "numericCols", "rowCount",
      // "rows", "nulls"?}: the answer held for the page to fetch, the place's old one freed.
      {"holdQueryCpp", bound([services](const Args& a) {
         return replyOf(holdQuery(a.text(0), a.text(1), services),
                        [](JsonText result) { return std::move(result.text); });
       }),
       kHoldStopTagAt, Lane::Engine},
      // [answer id] -> {"ok":true}, held or not.
      {"freeAnswerCpp", bound([](const Args& a) {
         freeHeld(a.text(0));
         return compactJson(json{{"ok", true}});
       })},
      // [answer id] -> {"ok": destination, "rows": n} or {"cancelled": true}: the native side
      // writes the held answer, so no page ever holds it whole.
      {"saveAnswerCsvCpp", bound([dialogs](const Args& a) {
         auto answer = findHeld(a.text(0));
         if (!answer) return errorReply(messages::kNoSuchAnswer);
         return replyOf(saveCsv(answer->csv(), dialogs), [&answer](const std::string& path) {
           return compactJson(json{{"ok", path}, {"rows", answer->rows}});
         });
       }),
       std::nullopt, Lane::Dialog},
  };
  if (env.pageTiming) {
    // [{"reply", "drawn", "rows"}] -> null.
    table.push_back({kPageTimingFunctionName, bound(
                                                  [sink = env.pageTiming](const Args& a) {
                                                    if (auto line = pageTimingLine(a)) sink(*line);
                                                    return std::string(kNullReply);
                                                  },
                                                  Fallback{kNullReply, kNullReply})});
  }
  return table;
}

BridgeFunction stopFunction(std::function<std::size_t(const std::string& tag)> stop) {
  const Fallback noneStopped{compactJson(json{{"stopped", 0}}), std::nullopt};
  return bound(
      [stop = std::move(stop)](const Args& a) {
        const std::string tag = a.text(0);
        const std::size_t stopped = tag.empty() ? 0 : stop(tag);
        return compactJson(json{{"stopped", stopped}});
      },
      noneStopped);
}

std::string stopTagOf(const BridgeBinding& binding, const CallArgs& args) {
  if (!binding.stopTagAt) return {};
  const json* tag = args.at(*binding.stopTagAt);
  if (!tag || !tag->is_string()) return {};
  return tag->get<std::string>();
}

}  // namespace plinthos
