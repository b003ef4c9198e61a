#include "store/dashboards.h"

#include "bridge/messages.h"
#include "store/config.h"
#include "store/records.h"

namespace plinthos {

namespace {
constexpr const char* kKey = "dashboards";
constexpr const char* kDefaultFilters = "[]";
constexpr const char* kDefaultPathToFiles = "";
constexpr const char* kDefaultFileType = "csv";
constexpr std::size_t kFiltersIndex = 2;
constexpr std::size_t kPathIndex = 3;
constexpr std::size_t kFileTypeIndex = 4;

std::string okReply() {
  return toReply(json{{"ok", true}});
}

std::string internalError(const std::string& what) {
  return errorReply(messages::kInternalError + what);
}

// An optional argument: its text when present; the default when the array is too short or the
// page passed undefined (null). Anything else is outside the contract.
std::optional<std::string> optionalText(const std::string& args, std::size_t index,
                                        const char* fallback, std::string* problem) {
  json array = json::parse(args, nullptr, false);
  if (index >= array.size() || array[index].is_null()) return std::string(fallback);
  if (!array[index].is_string()) {
    *problem = messages::kArgMissingText + std::to_string(index + 1);
    return std::nullopt;
  }
  return array[index].get<std::string>();
}
}  // namespace

// Arguments: none read. Reply: the array of dashboard records, [] when none.
// Failures: none; anything unexpected answers [].
std::string getDashboardsCpp(const std::string&) {
  return guarded(
      [] {
        json config = loadConfig();
        auto it = config.find(kKey);
        if (it == config.end() || !it->is_array()) return toReply(json::array());
        return toReply(namedRecords(*it));
      },
      [](const std::string&) { return toReply(json::array()); });
}

// Arguments: [name, layout JSON text, filters JSON text = "[]", path to files = "",
// file type = "csv"]. Reply: {"ok":true} after replacing the first record of that name in
// place or appending a new one. Failures: {"error": ...} when an argument is missing or not
// text, layout or filters are not JSON, or the configuration could not be written.
std::string saveDashboardCpp(const std::string& args) {
  return guarded(
      [&] {
        std::string problem;
        auto required = readTextArgs(args, 2, &problem);
        if (!required) return errorReply(problem);
        auto filtersText = optionalText(args, kFiltersIndex, kDefaultFilters, &problem);
        auto pathToFiles = optionalText(args, kPathIndex, kDefaultPathToFiles, &problem);
        auto fileType = optionalText(args, kFileTypeIndex, kDefaultFileType, &problem);
        if (!filtersText || !pathToFiles || !fileType) return errorReply(problem);

        json layout, filters;
        try {
          layout = json::parse((*required)[1]);
        } catch (const json::parse_error& e) {
          return errorReply(messages::kLayoutNotJson + std::string(e.what()));
        }
        try {
          filters = json::parse(*filtersText);
        } catch (const json::parse_error& e) {
          return errorReply(messages::kFiltersNotJson + std::string(e.what()));
        }

        const std::string& name = (*required)[0];
        json config = loadConfig();
        json& list = config[kKey];
        if (!list.is_array()) list = json::array();
        json* target = nullptr;
        for (auto& record : list) {
          if (hasName(record, name)) {
            target = &record;
            break;
          }
        }
        if (!target) {
          list.push_back(json{{"name", name}});
          target = &list.back();
        }
        (*target)["layout"] = std::move(layout);
        (*target)["filters"] = std::move(filters);
        (*target)["pathToFiles"] = *pathToFiles;
        (*target)["fileType"] = *fileType;
        if (auto failed = saveConfig(config)) return saveFailedReply(*failed);
        return okReply();
      },
      internalError);
}

// Arguments: [name]. Reply: {"ok":true}, after removing every record of that name. The file is
// written only when a dashboards list is stored. Failures: {"error": ...} on bad arguments or a
// failed write.
std::string deleteDashboardCpp(const std::string& args) {
  return guarded(
      [&] {
        std::string problem;
        auto values = readTextArgs(args, 1, &problem);
        if (!values) return errorReply(problem);
        const std::string& name = (*values)[0];

        json config = loadConfig();
        auto it = config.find(kKey);
        if (it == config.end() || !it->is_array()) return okReply();
        json kept = json::array();
        for (auto& record : *it) {
          if (!hasName(record, name)) kept.push_back(std::move(record));
        }
        *it = std::move(kept);
        if (auto failed = saveConfig(config)) return saveFailedReply(*failed);
        return okReply();
      },
      internalError);
}

}  // namespace plinthos
