#pragma once
// The application's URI scheme, through which the main window's page reads the answers held on
// the native side, and the freeing of those answers when that page goes.
#include <webkit/webkit.h>

namespace plinthos {

// Registers the scheme on `mainView`'s context (shared with every other view of the process,
// which it refuses) and frees every held answer whenever `mainView` commits a new page. Call
// once, before any view loads.
void serveHeldAnswers(WebKitWebView* mainView);

}  // namespace plinthos
