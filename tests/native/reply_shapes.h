#pragma once
// What each bridge function may answer, whatever it is given: one table in registration order,
// shared by the contract tests and the fuzzer.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace plinthos::test {

enum class ReplyShape {
  Text,     // a JSON string
  List,     // an array; null where a deletion left no list
  Done,     // "ok", or an error object
  Outcome,  // {"ok": text}, {"cancelled": true}, or an error object
  Object,   // an object whose error, if any, is text
};

struct NamedShape {
  const char* name;
  ReplyShape shape;
};

inline const std::vector<NamedShape> kReplyShapes = {
    {"getPage", ReplyShape::Text},
    {"getBucketPathCpp", ReplyShape::Text},
    {"setBucketPathCpp", ReplyShape::Done},
    {"chooseFolderCpp", ReplyShape::Text},
    {"listBucketCpp", ReplyShape::Object},
    {"csv2parquetCpp", ReplyShape::Outcome},
    {"queryDuckCpp", ReplyShape::Object},
    {"getSavedQueriesCpp", ReplyShape::List},
    {"saveQueryCpp", ReplyShape::Done},
    {"deleteQueryCpp", ReplyShape::Done},
    {"getDashboardsCpp", ReplyShape::List},
    {"saveDashboardCpp", ReplyShape::Object},
    {"deleteDashboardCpp", ReplyShape::Object},
    {"getSchemaCpp", ReplyShape::Object},
    {"saveCsvCpp", ReplyShape::Outcome},
    {"exportToCsvCpp", ReplyShape::Outcome},
};

inline bool isErrorObject(const nlohmann::json& reply) {
  return reply.is_object() && reply.size() == 1 && reply.contains("error") &&
         reply["error"].is_string();
}

inline bool hasShape(ReplyShape shape, const nlohmann::json& reply) {
  switch (shape) {
    case ReplyShape::Text:
      return reply.is_string();
    case ReplyShape::List:
      return reply.is_array() || reply.is_null();
    case ReplyShape::Done:
      return reply == "ok" || isErrorObject(reply);
    case ReplyShape::Outcome:
      if (reply.is_object() && reply.size() == 1 && reply.contains("ok")) {
        return reply["ok"].is_string();
      }
      return reply == nlohmann::json{{"cancelled", true}} || isErrorObject(reply);
    case ReplyShape::Object:
      return reply.is_object() && (!reply.contains("error") || reply["error"].is_string());
  }
  return false;
}

// The shape `name` answers in; false when the table does not know the name.
inline bool hasShapeOf(const std::string& name, const nlohmann::json& reply) {
  for (const auto& entry : kReplyShapes) {
    if (name == entry.name) return hasShape(entry.shape, reply);
  }
  return false;
}

}  // namespace plinthos::test
