// Opens the real GTK choosers from inside a dispatched bridge call, as the app does (on the
// dispatcher's worker, the chooser itself on the main thread), and prints each reply in the
// order it was delivered. A second call posted while the chooser's
// nested loop runs must wait and be answered after the chooser's own call.
#include <gtk/gtk.h>

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "app/dispatch.h"
#include "app/gtk_dialogs.h"
#include "app/main_thread.h"

namespace {

constexpr guint kSecondCallDelayMs = 300;
constexpr int kCalls = 2;

struct Probe {
  plinthos::Dispatcher* dispatcher = nullptr;
  bool folder = true;
  int answered = 0;
};

gboolean postSecondCall(gpointer data) {
  static_cast<Probe*>(data)->dispatcher->post(1, "second", "[]");
  return G_SOURCE_REMOVE;
}

gboolean startChooser(gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  g_timeout_add(kSecondCallDelayMs, postSecondCall, probe);
  probe->dispatcher->post(0, "chooser", "[]");
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || (std::string(argv[1]) != "folder" && std::string(argv[1]) != "save")) {
    std::fprintf(stderr, "usage: dialog_probe folder|save\n");
    return 2;
  }
  g_set_application_name("Dialog Probe");
  gtk_init();
  GtkWindow* window = GTK_WINDOW(gtk_window_new());
  gtk_window_set_title(window, "Dialog Probe");
  gtk_window_present(window);

  plinthos::GtkDialogs dialogs(window);
  Probe probe;
  probe.folder = std::string(argv[1]) == "folder";
  std::vector<plinthos::BridgeBinding> table{
      {"chooser",
       [&](const plinthos::CallArgs&) {
         const auto chosen = probe.folder ? dialogs.chooseFolder() : dialogs.chooseCsvDestination();
         return chosen ? nlohmann::json(*chosen).dump() : std::string("null");
       }},
      {"second", [](const plinthos::CallArgs&) { return std::string("\"second\""); }},
  };
  plinthos::Dispatcher dispatcher(
      std::move(table),
      [&](const std::string& id, const std::string& json) {
        std::printf("%s %s\n", id.c_str(), json.c_str());
        std::fflush(stdout);
        ++probe.answered;
      },
      plinthos::runOnMain);
  probe.dispatcher = &dispatcher;
  g_idle_add(startChooser, &probe);
  while (probe.answered < kCalls) g_main_context_iteration(nullptr, TRUE);
  return 0;
}
