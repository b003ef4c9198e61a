#pragma once
// What each bridge function answers, whatever it is given, in registration order: one table for
// the contract tests and the fuzzer.
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace plinthos::test {

using Reply = nlohmann::json;
inline constexpr auto isError = [](const Reply& r) {
  return r.is_object() && r.size() == 1 && r.contains("error") && r["error"].is_string();
};
inline constexpr auto isText = [](const Reply& r) { return r.is_string(); };
// null: a deletion on an absent list
inline constexpr auto isList = [](const Reply& r) { return r.is_array() || r.is_null(); };
inline constexpr auto isDone = [](const Reply& r) { return r == "ok" || isError(r); };
// {"ok": text}, {"cancelled": true} or an error
inline constexpr auto isOutcome = [](const Reply& r) {
  return (r.contains("ok") && r.size() == 1 && r["ok"].is_string()) ||
         r == Reply{{"cancelled", true}} || isError(r);
};
inline constexpr auto isObject = [](const Reply& r) {
  return r.is_object() && (!r.contains("error") || r["error"].is_string());
};

// clang-format off
inline const std::vector<std::pair<std::string, bool (*)(const Reply&)>> kReplyShapes = {
    {"getPage", isText}, {"getBucketPathCpp", isText}, {"setBucketPathCpp", isDone},
    {"chooseFolderCpp", isText}, {"listBucketCpp", isObject}, {"csv2parquetCpp", isOutcome},
    {"queryDuckCpp", isObject}, {"getSavedQueriesCpp", isList}, {"saveQueryCpp", isDone},
    {"deleteQueryCpp", isDone}, {"getDashboardsCpp", isList}, {"saveDashboardCpp", isObject},
    {"deleteDashboardCpp", isObject}, {"getSchemaCpp", isObject}, {"saveCsvCpp", isOutcome},
    {"exportToCsvCpp", isOutcome}, {"holdQueryCpp", isObject}, {"freeAnswerCpp", isObject},
    {"saveAnswerCsvCpp", isObject}};
// clang-format on

// False for a name the table does not hold.
inline bool hasShapeOf(const std::string& name, const Reply& reply) {
  for (const auto& [known, shape] : kReplyShapes) {
    if (known == name) return shape(reply);
  }
  return false;
}

}  // namespace plinthos::test
