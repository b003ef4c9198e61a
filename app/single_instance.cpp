#include "app/single_instance.h"

#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

namespace plinthos {

namespace fs = std::filesystem;

namespace {

constexpr const char* kOpenFolderAction = "open-folder";
// The folder as given and the folder it was given in (empty when that could not be read).
constexpr const char* kOpenFolderParameter = "(ayay)";
constexpr const char* kChooseFolderAction = "choose-folder";

std::optional<fs::path> currentFolder() {
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  if (ec) return std::nullopt;
  return cwd;
}

}  // namespace

SingleInstance::SingleInstance() : app_(gtk_application_new(kAppId, G_APPLICATION_DEFAULT_FLAGS)) {
  const GActionEntry entries[] = {
      {kOpenFolderAction, onOpenFolder, kOpenFolderParameter, nullptr, nullptr, {0, 0, 0}},
      {kChooseFolderAction, onChooseFolder, nullptr, nullptr, nullptr, {0, 0, 0}},
  };
  g_action_map_add_action_entries(G_ACTION_MAP(app_), entries, G_N_ELEMENTS(entries), this);
  g_signal_connect(app_, "activate", G_CALLBACK(onActivate), this);
}

SingleInstance::~SingleInstance() {
  g_object_unref(app_);
}

bool SingleInstance::forwardedTo(const CommandLine& line) {
  GError* error = nullptr;
  if (!g_application_register(G_APPLICATION(app_), nullptr, &error)) {
    // No session bus: nobody to hand over to, and nobody can find this one.
    g_clear_error(&error);
    return false;
  }
  if (!g_application_get_is_remote(G_APPLICATION(app_))) return false;

  if (line.folder) {
    const auto cwd = currentFolder();
    // The running window shows the notice too; the terminal this was started from hears it here.
    if (auto problem = givenFolderProblem(*line.folder, cwd)) std::cerr << *problem << "\n";
    g_action_group_activate_action(
        G_ACTION_GROUP(app_), kOpenFolderAction,
        g_variant_new("(^ay^ay)", line.folder->c_str(), cwd ? cwd->c_str() : ""));
  } else if (line.chooseFolder) {
    g_action_group_activate_action(G_ACTION_GROUP(app_), kChooseFolderAction, nullptr);
  } else {
    g_application_activate(G_APPLICATION(app_));
  }
  // The requests are sent without waiting for an answer: make sure they left before exiting.
  if (GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(app_))) {
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  }
  return true;
}

void SingleInstance::serve(GtkWindow* window, Evaluate evaluate) {
  window_ = window;
  evaluate_ = std::move(evaluate);
}

void SingleInstance::raise() {
  if (window_) gtk_window_present(window_);
}

void SingleInstance::onActivate(GApplication*, gpointer self) {
  static_cast<SingleInstance*>(self)->raise();
}

void SingleInstance::onOpenFolder(GSimpleAction*, GVariant* parameter, gpointer data) {
  auto* self = static_cast<SingleInstance*>(data);
  if (!self->evaluate_) return;
  const char* given = nullptr;
  const char* cwd = nullptr;
  g_variant_get(parameter, "(^&ay^&ay)", &given, &cwd);
  self->raise();
  const std::optional<fs::path> folder = *cwd ? std::optional(fs::path(cwd)) : std::nullopt;
  if (auto problem = openGivenFolder(given, folder)) {
    std::cerr << *problem << "\n";
    self->evaluate_(showNoticeScript(*problem));
  } else {
    self->evaluate_(reloadFolderScript());
  }
}

void SingleInstance::onChooseFolder(GSimpleAction*, GVariant*, gpointer data) {
  auto* self = static_cast<SingleInstance*>(data);
  if (!self->evaluate_) return;
  self->raise();
  self->evaluate_(chooseFolderScript());
}

}  // namespace plinthos
