#pragma once
// The native dialogs on GTK 4.8, modal to the main window. Each runs a nested main loop on the
// main thread until the user decides; asked from another thread (the dispatcher's worker), the
// dialog is run on the main thread and waited for there. Bridge calls arriving meanwhile run in
// their own lanes; another dialog waits for this one.
#include <gtk/gtk.h>

#include <thread>

#include "services/dialogs.h"

namespace plinthos {

class GtkDialogs final : public Dialogs {
 public:
  // Built on the main thread.
  explicit GtkDialogs(GtkWindow* parent)
      : parent_(parent), mainThread_(std::this_thread::get_id()) {}
  std::optional<std::string> chooseFolder() override;
  std::optional<std::string> chooseCsvDestination() override;

 private:
  template <typename Dialog>
  std::optional<std::string> onMainThread(Dialog dialog);

  GtkWindow* parent_;
  std::thread::id mainThread_;
};

}  // namespace plinthos
