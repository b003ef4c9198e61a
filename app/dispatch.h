#pragma once
// Runs bridge calls one at a time, in arrival order. A dialog's nested main loop may deliver
// further calls while one is running; they wait in a queue and run after it, so calls never
// overlap. Display-free, so the ordering can be tested without a window.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/bridge_table.h"

namespace plinthos {

class Dispatcher {
 public:
  // Delivers one reply: the call's id and its JSON text.
  using Reply = std::function<void(const std::string& id, const std::string& json)>;

  Dispatcher(std::vector<BridgeBinding> table, Reply reply);

  const std::vector<BridgeBinding>& table() const { return table_; }

  // Takes one call of the function at `index`; runs it now unless a call is already running,
  // in which case it runs after that one and every call queued before it.
  void post(std::size_t index, std::string id, std::string args);

  bool busy() const { return running_; }

 private:
  struct Call {
    std::size_t index;
    std::string id;
    std::string args;
  };

  std::string answer(const Call& call) const;

  std::vector<BridgeBinding> table_;
  Reply reply_;
  std::deque<Call> queue_;
  bool running_ = false;
};

// The reply when a function lets an exception through after all.
std::string internalErrorReply(const char* what);

}  // namespace plinthos
