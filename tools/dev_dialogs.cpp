#include "tools/dev_dialogs.h"

namespace plinthos {

void ScriptedDialogs::push(std::string answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::move(answer));
}

std::optional<std::string> ScriptedDialogs::next() {
  std::lock_guard lock(mutex_);
  if (answers_.empty()) return std::nullopt;
  std::string answer = std::move(answers_.front());
  answers_.pop_front();
  if (answer == "cancel") return std::nullopt;
  return answer;
}

}  // namespace plinthos
