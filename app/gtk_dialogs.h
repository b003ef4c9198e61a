#pragma once
// The native dialogs on GTK 4.8, modal to the main window. Each runs a nested main loop until
// the user decides; bridge calls arriving meanwhile wait in the dispatcher's queue.
#include <gtk/gtk.h>

#include "services/dialogs.h"

namespace plinthos {

class GtkDialogs final : public Dialogs {
 public:
  explicit GtkDialogs(GtkWindow* parent) : parent_(parent) {}
  std::optional<std::string> chooseFolder() override;
  std::optional<std::string> chooseCsvDestination() override;

 private:
  GtkWindow* parent_;
};

}  // namespace plinthos
