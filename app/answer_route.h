#pragma once
// Which requests of the application's URI scheme reach the held answers. Display-free, so every
// refusal is tested without a window.
#include <string>
#include <string_view>

namespace plinthos {

inline constexpr const char* kAnswerScheme = "plinthos";
inline constexpr std::string_view kAnswerBase = "plinthos://answer/";

inline constexpr int kFetchAllowed = 0;
inline constexpr int kForbidden = 403;
inline constexpr int kNotFound = 404;
inline constexpr int kMethodNotAllowed = 405;

struct AnswerRoute {
  int refusal = kFetchAllowed;  // the status to answer with, or kFetchAllowed
  std::string path;             // what follows the base, query included, when allowed
};

// `uri` as requested, `method` its HTTP method, `fromMainView` whether the main window's page
// asked. Only the main page may read answers, only with GET, and only under the base.
AnswerRoute routeAnswerRequest(std::string_view uri, std::string_view method, bool fromMainView);

// The JSON body of a refusal.
std::string refusalBody(int status);

}  // namespace plinthos
