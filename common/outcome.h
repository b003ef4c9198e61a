#pragma once
// What the store and the services hand back: values, or a failure the user is told about, or a
// run called off. The bridge table in app/ turns these into reply texts.
#include <nlohmann/json.hpp>
#include <optional>
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

template <typename T>
using Result = std::variant<T, Failure, Cancelled>;

// Why a step gave no value, to be handed on as any function's result.
using Setback = std::variant<Failure, Cancelled>;

template <typename T>
Result<T> resultOf(Setback setback) {
  return std::visit([](auto&& why) -> Result<T> { return std::move(why); }, std::move(setback));
}

// The failure or cancellation of `result`, which holds no value, as another function's result.
template <typename T, typename U>
Result<T> passOn(Result<U>&& result) {
  if (auto* failure = std::get_if<Failure>(&result)) return std::move(*failure);
  return Cancelled{};
}

// nullopt when the step was done.
using Status = std::optional<Failure>;

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
