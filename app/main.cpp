// Process entry: the main window with its web view, the About window, the menu, the shell
// page and the bridge, then the event loop until the main window closes.
#include <gtk/gtk.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/bridge_table.h"
#include "app/dispatch.h"
#include "app/exe_path.h"
#include "app/gtk_dialogs.h"
#include "app/main_window.h"
#include "app/webview_api.h"
#include "pages/pages.h"
#include "services/paths.h"

namespace {

constexpr const char* kMainTitle = "Plinthos";
constexpr int kMainWidth = 1400;
constexpr int kMainHeight = 900;
constexpr int kDebugOn = 1;
constexpr int kReplyOk = 0;

// What each bound name hands back to the C callback: the dispatcher and the table index.
struct Binding {
  plinthos::Dispatcher* dispatcher;
  std::size_t index;
};

void onCall(const char* id, const char* req, void* arg) {
  // Nothing may unwind into the library.
  try {
    auto* binding = static_cast<Binding*>(arg);
    binding->dispatcher->post(binding->index, id ? id : "", req ? req : "[]");
  } catch (...) {
  }
}

}  // namespace

int main() {
  // The window class (plinthos / Plinthos) ties the window to its desktop entry, and the
  // application name labels the files the choosers add to the recent list.
  g_set_prgname("plinthos");
  g_set_application_name(kMainTitle);
  webview_t w = webview_create(kDebugOn, nullptr);
  if (w == nullptr) return 1;  // no display: nothing can be shown
  webview_set_title(w, kMainTitle);
  webview_set_size(w, kMainWidth, kMainHeight, kWebviewHintNone);
  auto* window = static_cast<GtkWindow*>(webview_get_window(w));
  plinthos::prepareMainWindow(window);
  gtk_window_maximize(window);

  const std::string exePath = plinthos::ownExecutablePath();
  GtkWindow* about = plinthos::buildAboutWindow(exePath);
  plinthos::buildMenu(window, about);

  webview_set_html(w, plinthos::SHELL_HTML);

  plinthos::GtkDialogs dialogs(window);
  plinthos::BridgeEnv env{exePath, plinthos::duckdbPathFor(exePath), &dialogs};
  plinthos::Dispatcher dispatcher(plinthos::bridgeTable(env),
                                  [w](const std::string& id, const std::string& json) {
                                    webview_return(w, id.c_str(), kReplyOk, json.c_str());
                                  });
  std::vector<std::unique_ptr<Binding>> bindings;
  for (std::size_t i = 0; i < dispatcher.table().size(); ++i) {
    bindings.push_back(std::make_unique<Binding>(Binding{&dispatcher, i}));
    webview_bind(w, dispatcher.table()[i].name.c_str(), onCall, bindings.back().get());
  }

  webview_run(w);
  webview_destroy(w);
  return 0;
}
