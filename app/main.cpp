// Process entry: the main window with its web view, the About window, the menu, the shell
// page and the bridge, then the event loop until the main window closes.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/answer_scheme.h"
#include "app/bridge_table.h"
#include "app/command_line.h"
#include "app/dispatch.h"
#include "app/exe_path.h"
#include "app/gtk_dialogs.h"
#include "app/main_thread.h"
#include "app/main_window.h"
#include "app/single_instance.h"
#include "app/version.h"
#include "app/webview_api.h"
#include "pages/pages.h"
#include "services/engine_runner.h"
#include "services/paths.h"
#include "store/config.h"

namespace {

constexpr const char* kMainTitle = "Plinthos";
constexpr int kMainWidth = 1400;
constexpr int kMainHeight = 900;
#ifdef NDEBUG  // the web inspector only in development builds
constexpr int kWebDebug = 0;
#else
constexpr int kWebDebug = 1;
#endif
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

struct StopBinding {
  webview_t w;
  plinthos::Dispatcher* dispatcher;
};

// The stop function skips the lanes: it must act while the query it stops is running.
void onStop(const char* id, const char* req, void* arg) {
  try {
    auto* binding = static_cast<StopBinding*>(arg);
    const std::string reply = binding->dispatcher->stop(req ? req : "[]");
    webview_return(binding->w, id ? id : "", kReplyOk, reply.c_str());
  } catch (...) {
  }
}

// GTK would otherwise look for a display of every kind it knows, and its search alone creates
// folders in the home folder.
bool displayNamed() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "BROADWAY_DISPLAY", "GDK_BACKEND"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// With timing on, a script named here runs in each page before its own scripts and writes its
// lines through the probe function: how the window tests and benchmarks work inside the page.
constexpr const char* kProbeVariable = "PLINTHOS_TIMING_PROBE";
constexpr const char* kProbeFunctionName = "plinthosProbeCpp";
constexpr const char* kProbePrefix = "plinthos-probe: ";

// [anything] -> null; the arguments' JSON text becomes one line on standard error.
void onProbe(const char* id, const char* req, void* w) {
  try {
    std::fprintf(stderr, "%s%s\n", kProbePrefix, req ? req : "");
    webview_return(w, id ? id : "", kReplyOk, "null");
  } catch (...) {
  }
}

void addProbe(webview_t w) {
  const char* path = std::getenv(kProbeVariable);
  if (path == nullptr || *path == '\0') return;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::cerr << "the probe script " << path << " could not be read\n";
    return;
  }
  const std::string script{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  webview_bind(w, kProbeFunctionName, onProbe, w);
  webview_init(w, script.c_str());
}

gboolean onTerminate(gpointer) {
  plinthos::quitNow();
}

}  // namespace

int main(int argc, char** argv) {
  // Before any window: --version and --help need no display.
  const plinthos::CommandLine line =
      plinthos::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (auto code = plinthos::answerWithoutWindow(line, plinthos::kVersion, std::cout, std::cerr)) {
    return *code;
  }
  // The window class (plinthos / Plinthos) ties the window to its desktop entry, and the
  // application name labels the files the choosers add to the recent list.
  g_set_prgname("plinthos");
  g_set_application_name(kMainTitle);
  // Without a display nothing is stored: the folder given waits for a window to show it in.
  if (!displayNamed() || !gtk_init_check()) {
    std::cerr << plinthos::cli::kNoDisplay;
    return plinthos::cli::kNoDisplayExitCode;
  }
  plinthos::SingleInstance instance;
  if (instance.forwardedTo(line)) return 0;
  // What an earlier run killed mid-way left behind.
  plinthos::removeStaleEngineScripts();
  plinthos::removeLeftoverConfigFiles();

  // A folder given here is stored before the Query page first lists.
  const std::string startScript = plinthos::openFromCommandLine(line, std::cerr);
  webview_t w = webview_create(kWebDebug, nullptr);
  if (w == nullptr) {
    std::cerr << plinthos::cli::kNoWindow;
    return plinthos::cli::kNoDisplayExitCode;
  }
  webview_set_title(w, kMainTitle);
  webview_set_size(w, kMainWidth, kMainHeight, kWebviewHintNone);
  auto* window = static_cast<GtkWindow*>(webview_get_window(w));
  plinthos::prepareMainWindow(window);
  gtk_window_maximize(window);

  // Before any view loads: the About view shares the context the scheme is registered on.
  plinthos::serveHeldAnswers(
      WEBKIT_WEB_VIEW(webview_get_native_handle(w, kWebviewNativeBrowserController)));

  const std::string exePath = plinthos::ownExecutablePath();
  GtkWindow* about = plinthos::buildAboutWindow(exePath, window);
  plinthos::buildMenu(window, about);

  if (!startScript.empty()) webview_init(w, startScript.c_str());
  const bool timing = std::getenv(plinthos::Dispatcher::kTimingVariable) != nullptr;
  if (timing) {
    const std::string script =
        plinthos::pageTimingScript(std::getenv(plinthos::Dispatcher::kTimingStatementVariable));
    webview_init(w, script.c_str());
    addProbe(w);
  }
  webview_set_html(w, plinthos::SHELL_HTML);
  instance.serve(window, [w](const std::string& script) { webview_eval(w, script.c_str()); });

  plinthos::GtkDialogs dialogs(window);
  plinthos::BridgeEnv env{exePath, plinthos::duckdbPathFor(exePath), &dialogs};
  // The page's own timing line joins the dispatcher's on standard error.
  if (timing) env.pageTiming = [](const std::string& line) { std::fputs(line.c_str(), stderr); };
  // The calls run on the dispatcher's workers, so the window keeps drawing while they wait.
  plinthos::Dispatcher dispatcher(
      plinthos::bridgeTable(env),
      [w](const std::string& id, const std::string& json) {
        webview_return(w, id.c_str(), kReplyOk, json.c_str());
      },
      plinthos::runOnMain);
  std::vector<std::unique_ptr<Binding>> bindings;
  for (std::size_t i = 0; i < dispatcher.table().size(); ++i) {
    bindings.push_back(std::make_unique<Binding>(Binding{&dispatcher, i}));
    webview_bind(w, dispatcher.table()[i].name.c_str(), onCall, bindings.back().get());
  }
  StopBinding stop{w, &dispatcher};
  webview_bind(w, plinthos::kStopFunctionName, onStop, &stop);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(signal, onTerminate, nullptr);

  webview_run(w);
  // The window is closed. Leave the way Quit does: a running engine is killed, and nothing
  // waits for the worker, whose call may be waiting on a dialog that will never answer.
  plinthos::quitNow();
}
