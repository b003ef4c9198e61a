#pragma once
// The one boundary between the pages and the native side: the table that binds each bridge name,
// in registration order, to its function in the store or the services. For every call it reads
// the arguments, calls the function, shapes the reply, and is the only place where something
// thrown becomes that function's failure reply. Display-free: the window and the developer tool
// both register from it.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"
#include "services/dialogs.h"

namespace plinthos {

struct BridgeEnv {
  std::string exePath;     // stands for the application's own executable
  std::string duckdbPath;  // the engine program, decided once at start
  Dialogs* dialogs = nullptr;
  // Where the page's timing lines go; unset, the page's timing function is not in the table.
  std::function<void(const std::string& line)> pageTiming = nullptr;
};

// The argument array of one call, decoded once when the call arrives (strict JSON) and read by
// position from then on. Text that is not a JSON array holds no arguments.
class CallArgs {
 public:
  explicit CallArgs(std::string_view text);
  bool isArray() const { return array_.is_array(); }
  std::size_t size() const { return isArray() ? array_.size() : 0; }
  // Argument `index`; null when there is none.
  const json* at(std::size_t index) const { return index < size() ? &array_[index] : nullptr; }

 private:
  json array_;
};

// Arguments in, reply text out.
using BridgeFunction = std::function<std::string(const CallArgs& args)>;

// Where the dispatcher runs a function's calls. Calls of one lane start in arrival order; the
// lanes never wait for each other.
enum class Lane {
  // Quick work on the stored records and the data folder: one at a time, so a read sees every
  // change posted before it.
  Store,
  // Engine runs: side by side, up to the dispatcher's engine width.
  Engine,
  // Calls that open a native dialog: one at a time, so two dialogs never open together.
  Dialog,
};
inline constexpr std::size_t kLaneCount = 3;

struct BridgeBinding {
  std::string name;
  BridgeFunction call;  // never throws; always answers valid JSON text
  // Where a call may carry a stop tag among its arguments (beyond those the function reads);
  // the stop function ends the calls with its tag. None: the function cannot be stopped.
  std::optional<std::size_t> stopTagAt = std::nullopt;
  Lane lane = Lane::Store;
};

// The bridge functions in registration order, then the page's timing function when
// `env.pageTiming` is set.
std::vector<BridgeBinding> bridgeTable(const BridgeEnv& env);

// The page's own function for its timing line: [{"reply": ms, "drawn": ms, "rows": n}], all
// measured from its Run action -> null. Arguments of any other shape write nothing.
inline constexpr const char* kPageTimingFunctionName = "plinthosPageTimingCpp";

// Bound beside the table: it stops queries, answered at once, never queued.
inline constexpr const char* kStopFunctionName = "stopQueryCpp";
// The argument that carries a query's stop tag: the one after the SQL text.
inline constexpr std::size_t kQueryStopTagAt = 1;
inline constexpr std::size_t kHoldStopTagAt = 2;

// The stop function: [tag] -> {"stopped": count}, where `stop` ends the calls carrying `tag`
// and counts them. No tag, or the empty one, stops nothing.
BridgeFunction stopFunction(std::function<std::size_t(const std::string& tag)> stop);

// The stop tag a call of `binding` carries; "" when none, or when the function cannot be stopped.
std::string stopTagOf(const BridgeBinding& binding, const CallArgs& args);

}  // namespace plinthos
