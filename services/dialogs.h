#pragma once
// The two native dialogs the data services need. The window implements them with GTK;
// the developer tool answers them from its --dialog list.
#include <optional>
#include <string>

namespace plinthos {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A folder chooser (folders only, one choice). The chosen path, or nullopt on cancel.
  virtual std::optional<std::string> chooseFolder() = 0;
  // A save chooser proposing "query-result.csv" with a CSV filter. The path, or nullopt.
  virtual std::optional<std::string> chooseCsvDestination() = 0;
};

}  // namespace plinthos
