#include "app/gtk_dialogs.h"

#include <exception>
#include <filesystem>
#include <future>
#include <system_error>
#include <utility>

#include "store/config.h"

namespace plinthos {

namespace {

constexpr const char* kProposedCsvName = "query-result.csv";
constexpr const char* kCsvFilterName = "CSV files";

struct Decision {
  GMainLoop* loop = nullptr;
  int response = GTK_RESPONSE_NONE;
};

void onResponse(GtkNativeDialog*, int response, gpointer data) {
  auto* decision = static_cast<Decision*>(data);
  decision->response = response;
  g_main_loop_quit(decision->loop);
}

// Shows the chooser modally and waits in a nested loop; the local path, or nullopt.
std::optional<std::string> runChooser(GtkFileChooserNative* chooser) {
  Decision decision;
  decision.loop = g_main_loop_new(nullptr, FALSE);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  const gulong handler = g_signal_connect(chooser, "response", G_CALLBACK(onResponse), &decision);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  g_main_loop_run(decision.loop);
  g_signal_handler_disconnect(chooser, handler);
  g_main_loop_unref(decision.loop);

  std::optional<std::string> chosen;
  if (decision.response == GTK_RESPONSE_ACCEPT) {
    if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(chooser))) {
      // A location without a local path (a remote mount) cannot be used by the engine.
      if (char* path = g_file_get_path(file)) {
        chosen = std::string(path);
        g_free(path);
      }
      g_object_unref(file);
    }
  }
  gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(chooser));
  g_object_unref(chooser);
  return chosen;
}

}  // namespace

// GTK objects belong to the main thread: from any other, the dialog is handed to it and the
// caller waits for the answer.
template <typename Dialog>
std::optional<std::string> GtkDialogs::onMainThread(Dialog dialog) {
  if (std::this_thread::get_id() == mainThread_) return dialog();
  struct Task {
    Dialog dialog;
    std::promise<std::optional<std::string>> answer;
  };
  Task task{std::move(dialog), {}};
  auto answer = task.answer.get_future();
  g_main_context_invoke(
      nullptr,
      [](gpointer data) -> gboolean {
        auto* t = static_cast<Task*>(data);
        try {
          t->answer.set_value(t->dialog());
        } catch (...) {
          t->answer.set_exception(std::current_exception());
        }
        return G_SOURCE_REMOVE;
      },
      &task);
  return answer.get();
}

std::optional<std::string> GtkDialogs::chooseFolder() {
  return onMainThread([parent = parent_] {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        "Choose a Folder", parent, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Choose", "_Cancel");
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), FALSE);
    return runChooser(chooser);
  });
}

std::optional<std::string> GtkDialogs::chooseCsvDestination() {
  // An export most likely belongs beside the data it came from, not in wherever the app was
  // started. Read here, off the window's thread.
  std::string dataFolder = getBucketPath();
  std::error_code ec;
  if (!std::filesystem::is_directory(dataFolder, ec)) dataFolder.clear();
  return onMainThread([parent = parent_, dataFolder] {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        "Save as CSV", parent, GTK_FILE_CHOOSER_ACTION_SAVE, "_Save", "_Cancel");
    if (!dataFolder.empty()) {
      GFile* folder = g_file_new_for_path(dataFolder.c_str());
      gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder, nullptr);
      g_object_unref(folder);
    }
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), kProposedCsvName);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, kCsvFilterName);
    gtk_file_filter_add_pattern(filter, "*.csv");
    gtk_file_filter_add_mime_type(filter, "text/csv");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);  // takes a reference
    gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(chooser), filter);
    g_object_unref(filter);
    return runChooser(chooser);
  });
}

}  // namespace plinthos
