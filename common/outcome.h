#pragma once
// What the store and the services hand back: values, or a failure the user is told about, or a
// run called off. The bridge table in app/ turns these into reply texts.
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <variant>

namespace plinthos {

using json = nlohmann::json;                  // objects keep members sorted by key
using ordered_json = nlohmann::ordered_json;  // objects keep members in text order

// An expected failure, told to the user as it stands.
struct Failure {
  std::string message;
};

// The user called the action off: a dialog cancelled, a query stopped.
struct Cancelled {};

// A step done, with nothing to hand back.
struct Done {};

// The one way every store and service function answers an expected failure.
template <typename T>
using Result = std::variant<T, Failure, Cancelled>;

template <typename T>
bool succeeded(const Result<T>& result) {
  return std::holds_alternative<T>(result);
}

// The failure or cancellation of `result`, which holds no value, as another function's result.
template <typename T, typename U>
Result<T> passOn(Result<U>&& result) {
  if (auto* failure = std::get_if<Failure>(&result)) return std::move(*failure);
  return Cancelled{};
}

// A JSON value already written out as compact text, for answers too large to build as a
// document first. Valid JSON by construction.
struct JsonText {
  std::string text;
};

// Compact, non-ASCII as UTF-8; bytes that are not valid UTF-8 become U+FFFD, so the text is
// always valid JSON.
std::string compactJson(const json& value);
std::string compactJson(const ordered_json& value);

}  // namespace plinthos
