#pragma once
// Reading bridge arguments and writing bridge replies, shared by every bridge function.
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plinthos {

using json = nlohmann::json;                  // objects keep members sorted by key
using ordered_json = nlohmann::ordered_json;  // objects keep members in text order

// Compact, non-ASCII as UTF-8; bytes that are not valid UTF-8 become U+FFFD, so a reply is
// always valid JSON text.
std::string toReply(const json& value);
std::string toReply(const ordered_json& value);

// {"error": text}
std::string errorReply(const std::string& text);
// A bare JSON string.
std::string stringReply(const std::string& text);
// {"cancelled": true}: the user called the action off (a dialog cancelled, a query stopped).
std::string cancelledReply();

// The argument array of a call, parsed strictly. Reading an argument that is missing or not
// text gives an explanation instead of a value.
class BridgeArgs {
 public:
  // nullopt when the text is not a JSON array; `problem` then says why.
  static std::optional<BridgeArgs> parse(const std::string& text, std::string* problem);

  std::size_t size() const { return array_.size(); }
  // The text at `index`, or nullopt (with `problem` set) when absent or not a JSON string.
  std::optional<std::string> text(std::size_t index, std::string* problem) const;

 private:
  explicit BridgeArgs(json array) : array_(std::move(array)) {}
  json array_;
};

// Reads the first `count` text arguments; on failure fills `problem` with a clear message.
std::optional<std::vector<std::string>> readTextArgs(const std::string& args, std::size_t count,
                                                     std::string* problem);

// The boundary every bridge function runs inside: `body` gives the reply; anything thrown
// becomes `onFailure(message)`, which must itself not throw (it builds a fixed-shape reply).
template <typename Body, typename OnFailure>
std::string guarded(Body&& body, OnFailure&& onFailure) noexcept {
  try {
    try {
      return body();
    } catch (const std::exception& e) {
      return onFailure(std::string(e.what()));
    } catch (...) {
      return onFailure(std::string("unknown failure"));
    }
  } catch (...) {
    // Even building the failure reply failed (out of memory): a constant is all that is left.
    return "{\"error\":\"Internal error\"}";
  }
}

}  // namespace plinthos
