#include "app/main_window.h"

#include <unistd.h>
#include <webkit/webkit.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "services/engine_runner.h"
#include "services/paths.h"

namespace plinthos {

namespace {

constexpr const char* kAboutTitle = "About Plinthos";
constexpr const char* kCreditsFile = "Credits.html";
constexpr int kAboutWidth = 600;
constexpr int kAboutHeight = 500;
constexpr const char* kMainTitle = "Plinthos";
constexpr const char* kAboutLabel = "About Plinthos";
constexpr const char* kQuitLabel = "Quit Plinthos";
constexpr const char* kAboutShortcut = "<Control>i";
constexpr const char* kQuitShortcut = "<Control>q";
constexpr const char* kCloseShortcut = "Escape";

void onAboutAction(GSimpleAction*, GVariant*, gpointer about) {
  gtk_window_present(GTK_WINDOW(about));
}
void onQuitAction(GSimpleAction*, GVariant*, gpointer) {
  quitNow();
}

gboolean onAboutShortcut(GtkWidget*, GVariant*, gpointer about) {
  gtk_window_present(GTK_WINDOW(about));
  return TRUE;
}
gboolean onQuitShortcut(GtkWidget*, GVariant*, gpointer) {
  quitNow();
  return TRUE;
}
gboolean onCloseShortcut(GtkWidget*, GVariant*, gpointer window) {
  gtk_window_close(GTK_WINDOW(window));
  return TRUE;
}

void addShortcut(GtkShortcutController* controller, const char* trigger, GtkShortcutFunc fn,
                 gpointer data) {
  gtk_shortcut_controller_add_shortcut(
      controller, gtk_shortcut_new(gtk_shortcut_trigger_parse_string(trigger),
                                   gtk_callback_action_new(fn, data, nullptr)));
}

GtkShortcutController* shortcutsOn(GtkWindow* window) {
  auto* controller = GTK_SHORTCUT_CONTROLLER(gtk_shortcut_controller_new());
  // Capture phase: the web view would otherwise swallow the keys while it has focus.
  gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(controller), GTK_PHASE_CAPTURE);
  gtk_widget_add_controller(GTK_WIDGET(window), GTK_EVENT_CONTROLLER(controller));
  return controller;
}

// The shortcut is shown beside the label; the controllers below make it work.
void appendItem(GMenu* menu, const char* label, const char* action, const char* accel) {
  GMenuItem* item = g_menu_item_new(label, action);
  g_menu_item_set_attribute(item, "accel", "s", accel);
  g_menu_append_item(menu, item);
  g_object_unref(item);
}

}  // namespace

void quitNow() {
  // A query still running must not outlive the app.
  endAllEngineRuns();
  // Every change is already on disk; nothing to save or confirm. _exit skips the static
  // destructors and the toolkit's teardown, which could block with the web process alive, and
  // the wait for a bridge call that may never end.
  std::fflush(nullptr);
  _exit(EXIT_SUCCESS);
}

void prepareMainWindow(GtkWindow* mainWindow) {
  // The webview library has already shown its window; a title bar only takes on an unrealized
  // one. The page is not loaded yet, so nothing is lost by realizing it afresh.
  GtkWidget* widget = GTK_WIDGET(mainWindow);
  const bool shown = gtk_widget_get_visible(widget);
  // The pages are dark: a light title bar over them would glare. Dialogs follow it too.
  g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);
  if (gtk_widget_get_realized(widget)) {
    gtk_widget_set_visible(widget, FALSE);
    gtk_widget_unrealize(widget);
  }
  gtk_window_set_titlebar(mainWindow, gtk_header_bar_new());
  gtk_window_set_title(mainWindow, kMainTitle);
  if (shown) gtk_window_present(mainWindow);
}

GtkWindow* buildAboutWindow(const std::string& exePath, GtkWindow* mainWindow) {
  GtkWindow* about = GTK_WINDOW(gtk_window_new());
  gtk_window_set_title(about, kAboutTitle);
  // Kept over the main window and grouped with it by the window manager.
  gtk_window_set_transient_for(about, mainWindow);
  gtk_window_set_default_size(about, kAboutWidth, kAboutHeight);
  gtk_window_set_resizable(about, FALSE);
  // Closing only hides it: the same window and its page come back on the next About.
  gtk_window_set_hide_on_close(about, TRUE);

  GtkWidget* view = webkit_web_view_new();
  gtk_widget_set_size_request(view, kAboutWidth, kAboutHeight);
  const std::string credits = bundleResourcePath(exePath, kCreditsFile);
  std::error_code ec;
  if (std::filesystem::exists(credits, ec)) {
    if (char* uri = g_filename_to_uri(credits.c_str(), nullptr, nullptr)) {
      webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
      g_free(uri);
    }
  }
  gtk_window_set_child(about, view);

  auto* controller = shortcutsOn(about);
  addShortcut(controller, kAboutShortcut, onAboutShortcut, about);
  addShortcut(controller, kQuitShortcut, onQuitShortcut, nullptr);
  addShortcut(controller, kCloseShortcut, onCloseShortcut, about);
  return about;
}

void buildMenu(GtkWindow* mainWindow, GtkWindow* aboutWindow) {
  GSimpleActionGroup* actions = g_simple_action_group_new();
  const GActionEntry entries[] = {
      {"about", onAboutAction, nullptr, nullptr, nullptr, {0, 0, 0}},
      {"quit", onQuitAction, nullptr, nullptr, nullptr, {0, 0, 0}},
  };
  g_action_map_add_action_entries(G_ACTION_MAP(actions), entries, G_N_ELEMENTS(entries),
                                  aboutWindow);
  gtk_widget_insert_action_group(GTK_WIDGET(mainWindow), "plinthos", G_ACTION_GROUP(actions));
  g_object_unref(actions);

  GMenu* menu = g_menu_new();
  GMenu* aboutSection = g_menu_new();
  appendItem(aboutSection, kAboutLabel, "plinthos.about", kAboutShortcut);
  GMenu* quitSection = g_menu_new();
  appendItem(quitSection, kQuitLabel, "plinthos.quit", kQuitShortcut);
  // Two sections: the separator between the commands.
  g_menu_append_section(menu, nullptr, G_MENU_MODEL(aboutSection));
  g_menu_append_section(menu, nullptr, G_MENU_MODEL(quitSection));
  g_object_unref(aboutSection);
  g_object_unref(quitSection);

  GtkWidget* button = gtk_menu_button_new();
  gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(button), "open-menu-symbolic");
  gtk_widget_set_tooltip_text(button, kMainTitle);
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(button), G_MENU_MODEL(menu));
  g_object_unref(menu);

  GtkWidget* header = gtk_window_get_titlebar(mainWindow);
  if (GTK_IS_HEADER_BAR(header)) gtk_header_bar_pack_end(GTK_HEADER_BAR(header), button);

  auto* controller = shortcutsOn(mainWindow);
  addShortcut(controller, kAboutShortcut, onAboutShortcut, aboutWindow);
  addShortcut(controller, kQuitShortcut, onQuitShortcut, nullptr);
}

}  // namespace plinthos
