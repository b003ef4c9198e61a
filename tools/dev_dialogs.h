#pragma once
// Dialog answers given on the command line (and, for serve, over HTTP) instead of windows.
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "services/dialogs.h"

namespace plinthos {

class ScriptedDialogs : public Dialogs {
 public:
  // A path is what the user picked; "cancel" is a cancel.
  void push(std::string answer);
  std::optional<std::string> chooseFolder() override { return next(); }
  std::optional<std::string> chooseCsvDestination() override { return next(); }

 private:
  std::optional<std::string> next();  // no answer left counts as a cancel
  std::mutex mutex_;
  std::deque<std::string> answers_;
};

}  // namespace plinthos
