#include "app/answer_route.h"

namespace plinthos {

AnswerRoute routeAnswerRequest(std::string_view uri, std::string_view method, bool fromMainView) {
  if (!fromMainView) return {kForbidden, {}};
  // The base decides before the method: a path of nothing held is not found, whatever asked.
  if (!uri.starts_with(kAnswerBase)) return {kNotFound, {}};
  if (method != "GET") return {kMethodNotAllowed, {}};
  std::string_view rest = uri.substr(kAnswerBase.size());
  // A fragment never names anything held.
  rest = rest.substr(0, rest.find('#'));
  if (rest.empty()) return {kNotFound, {}};
  return {kFetchAllowed, std::string(rest)};
}

std::string refusalBody(int status) {
  switch (status) {
    case kForbidden:
      return R"({"error":"Only the Plinthos window may read its answers"})";
    case kMethodNotAllowed:
      return R"({"error":"Answers are only read"})";
    default:
      return R"({"error":"No such answer"})";
  }
}

}  // namespace plinthos
