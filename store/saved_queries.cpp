#include "store/saved_queries.h"

#include "bridge/messages.h"
#include "store/config.h"
#include "store/records.h"

namespace plinthos {

namespace {
constexpr const char* kKey = "savedQueries";

std::string internalError(const std::string& what) {
  return errorReply(messages::kInternalError + what);
}
}  // namespace

// Arguments: none read. Reply: the list of {name, sql} records, [] when none is stored, null
// when a deletion stored null. Failures: none; anything unexpected answers [].
std::string getSavedQueriesCpp(const std::string&) {
  return guarded(
      [] {
        json config = loadConfig();
        auto it = config.find(kKey);
        if (it == config.end()) return toReply(json::array());
        if (it->is_null()) return toReply(*it);
        if (!it->is_array()) return toReply(json::array());
        return toReply(namedRecords(*it));
      },
      [](const std::string&) { return toReply(json::array()); });
}

// Arguments: [name, sql]. Reply: "ok" after replacing the sql of the first record of that name
// in place, or appending a new record. Failures: {"error": ...} on bad arguments or when the
// configuration could not be written.
std::string saveQueryCpp(const std::string& args) {
  return guarded(
      [&] {
        std::string problem;
        auto values = readTextArgs(args, 2, &problem);
        if (!values) return errorReply(problem);
        const std::string& name = (*values)[0];
        const std::string& sql = (*values)[1];

        json config = loadConfig();
        json& list = config[kKey];
        if (!list.is_array()) list = json::array();
        bool replaced = false;
        for (auto& record : list) {
          if (hasName(record, name)) {
            record["sql"] = sql;
            replaced = true;
            break;
          }
        }
        if (!replaced) list.push_back(json{{"name", name}, {"sql", sql}});
        if (auto failed = saveConfig(config)) return saveFailedReply(*failed);
        return stringReply("ok");
      },
      internalError);
}

// Arguments: [name]. Reply: "ok", after removing every record of that name (none is fine; an
// absent list is stored as null). Failures: {"error": ...} on bad arguments or a failed write.
std::string deleteQueryCpp(const std::string& args) {
  return guarded(
      [&] {
        std::string problem;
        auto values = readTextArgs(args, 1, &problem);
        if (!values) return errorReply(problem);
        const std::string& name = (*values)[0];

        json config = loadConfig();
        json& list = config[kKey];  // an absent key becomes null, as the page expects
        if (list.is_array()) {
          json kept = json::array();
          for (auto& record : list) {
            if (!hasName(record, name)) kept.push_back(std::move(record));
          }
          list = std::move(kept);
        }
        if (auto failed = saveConfig(config)) return saveFailedReply(*failed);
        return stringReply("ok");
      },
      internalError);
}

}  // namespace plinthos
