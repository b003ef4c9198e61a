#include "app/main_thread.h"

#include <glib.h>

#include <utility>

namespace plinthos {

void runOnMain(std::function<void()> task) {
  g_main_context_invoke_full(
      nullptr, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(task)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace plinthos
