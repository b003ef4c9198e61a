#pragma once
// The C API of the bundled webview library (0.12); the library ships no header of its own.
extern "C" {

using webview_t = void*;
using webview_bind_fn = void (*)(const char* id, const char* req, void* arg);

inline constexpr int kWebviewHintNone = 0;  // freely resizable
// What webview_get_native_handle returns: under GTK 4 the WebKitWebView* for this kind.
inline constexpr int kWebviewNativeBrowserController = 2;

webview_t webview_create(int debug, void* window);
int webview_destroy(webview_t w);
int webview_run(webview_t w);
int webview_terminate(webview_t w);
void* webview_get_window(webview_t w);  // a GtkWindow* under GTK 4
void* webview_get_native_handle(webview_t w, int kind);
int webview_set_title(webview_t w, const char* title);
int webview_set_size(webview_t w, int width, int height, int hint);
int webview_set_html(webview_t w, const char* html);
int webview_init(webview_t w, const char* js);  // runs before each page's own scripts
int webview_eval(webview_t w, const char* js);  // runs in the page now; main thread only
int webview_bind(webview_t w, const char* name, webview_bind_fn fn, void* arg);
int webview_return(webview_t w, const char* id, int status, const char* result);
}
