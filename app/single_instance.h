#pragma once
// One Plinthos per user session, through GtkApplication on the session bus: the first start
// keeps the window; a later one hands its command line over (the window is raised, a folder given
// is opened there) and ends. Without a session bus every start runs on its own.
#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "app/command_line.h"

namespace plinthos {

class SingleInstance {
 public:
  // Evaluates a script in the main window's page.
  using Evaluate = std::function<void(const std::string& script)>;

  SingleInstance();
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when a Plinthos of this session already runs and `line` has been handed to it: this
  // process only ends. A folder that cannot be opened is also said on standard error here.
  bool forwardedTo(const CommandLine& line);

  // From now on, starts handed over raise `window` and reach the page through `evaluate`.
  void serve(GtkWindow* window, Evaluate evaluate);

  // The application id, the desktop entry's and the session bus name's.
  static constexpr const char* kAppId = "org.plinthos.Plinthos";

 private:
  static void onActivate(GApplication*, gpointer self);
  static void onOpenFolder(GSimpleAction*, GVariant* parameter, gpointer self);
  static void onChooseFolder(GSimpleAction*, GVariant*, gpointer self);
  void raise();

  GtkApplication* app_;
  GtkWindow* window_ = nullptr;
  Evaluate evaluate_;
};

}  // namespace plinthos
